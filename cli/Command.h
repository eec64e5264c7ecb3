// The command registry of `vdx`. A command file defines a function and
// registers it with a static VDX_COMMAND(...) line; main() dispatches by name.
// Exit codes: 0 success, 1 the command's own failure, 2 usage error.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vdx {

using Args = std::vector<std::string>;
using CommandFn = std::function<int(const Args& args, std::ostream& out, std::ostream& err)>;

struct Command {
  std::string name;
  std::string usage;  // one line, e.g. "info TABLE"
  CommandFn run;
};

std::vector<Command>& Registry();

// False, after a line "PATH: refused: ..." on out, when another table of
// the folder has the same name in another letter case: no command works
// on such a table, since the two cannot be told apart by their companions.
bool TableAlone(const std::string& path, std::ostream& out);

struct Registrar {
  Registrar(std::string name, std::string usage, CommandFn fn);
};

}  // namespace vdx

#define VDX_CONCAT_(a, b) a##b
#define VDX_CONCAT(a, b) VDX_CONCAT_(a, b)
#define VDX_COMMAND(name, usage, fn) \
  static ::vdx::Registrar VDX_CONCAT(vdx_registrar_, __LINE__)(name, usage, fn)
