// How `vdx` commands name a table: a path to the data file, with or without
// its .DB extension, matched without regard to case.
#pragma once

#include <string>

namespace vdx {

std::string ResolveTableArg(const std::string& arg);

}  // namespace vdx
