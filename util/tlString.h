// Text helpers the tools use to build paths, table names and message texts.
// All texts are byte strings; comparisons are exact (case-sensitive) unless a
// function says otherwise. Only StMerge raises (EStringTools).
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class EStringTools : public std::runtime_error {
 public:
  explicit EStringTools(const std::string& message) : std::runtime_error(message) {}
};

// `s` with every occurrence of `oldText` replaced by `newText`. After each
// replacement the search starts over, so a replacement that forms `oldText`
// with the text before it is replaced too ("aab", "ab" -> "b" gives "b").
// When `newText` contains `oldText` that would never end; such a call makes a
// single left-to-right pass instead, never rescanning inserted text.
std::string ReplaceAll(const std::string& s, const std::string& oldText,
                       const std::string& newText);

// `s` without the first occurrence of `sub`; unchanged when it does not occur.
std::string DeleteFirst(const std::string& s, const std::string& sub);

// Appends every text of `parts` to `s`, in order.
void AppendAll(std::string& s, const std::vector<std::string>& parts);

// `s` without its last / first `n` characters (empty when n >= length).
std::string DropRight(const std::string& s, long n);
std::string DropLeft(const std::string& s, long n);

// A text of the same length: the mask's character at each position, except
// where the mask holds '?', where `str`'s character is kept. Used to turn
// one extension family into another ("X01" with "1??" gives "101").
std::string StMerge(const std::string& str, const std::string& mask);

// True when both lists hold the same lines, compared without regard to case
// and counting repeats (two folders hold the same tables).
bool SameLists(const std::vector<std::string>& a, const std::vector<std::string>& b);

// Frees the object attached to every line and leaves a null attachment, so
// the list can still be cleared or walked safely.
template <typename T>
void FreeObjects(std::vector<std::pair<std::string, T*>>& list) {
  for (auto& line : list) {
    delete line.second;
    line.second = nullptr;
  }
}

inline const std::string& ChooseText(bool flag, const std::string& a, const std::string& b) {
  return flag ? a : b;
}
