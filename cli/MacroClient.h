// What `vdx macro` shares between its two channels.
#pragma once

#include <string>
#include <vector>

#include "Command.h"

namespace vdx {

// "(success)", a count or a date-time (any answer not in parentheses), and
// the empty answer CLOSE leaves: a macro that did what it was sent for.
inline bool IsGoodMacroAnswer(const std::string& answer) {
  return answer == "(success)" || answer.empty() || answer.front() != '(';
}

// Sends each text to the automation object on the session bus. 0: every
// call was answered (a failed call's answer is "ERROR: " and the bus
// error's message); 2: no Vardex answers (`failure` says why); 1: this vdx
// has no D-Bus.
int ExecuteOverDBus(const Args& texts, std::vector<std::string>* answers, std::string* failure);

}  // namespace vdx
