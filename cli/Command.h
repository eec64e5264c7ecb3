// The command registry of `vdx`. A command file defines a function and
// registers it with a static VDX_COMMAND(...) line; main() dispatches by name.
// Exit codes: 0 success, 1 the command's own failure, 2 usage error.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
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

// The exit code of a command refused because a tool run (of the window, of
// `vdx run` or of another writing command) works on the same database; the
// same code as that of a run that ends busy.
inline constexpr int kExitBusy = 10;

// Holds the run lock of the database that `table_path` belongs to (its
// folder, or the one above METADATA or SAFE) while the returned handle lives.
// Null, after a line on err naming the holder, when another run holds it: the
// command then ends with kExitBusy. Where no lock can be had (a read-only
// folder) the command goes on and meets the folder's refusal itself.
// `reads` are the other tables the command reads: a command that refuses
// one of them or `table_path` for twin names takes no lock at all.
std::shared_ptr<void> LockDatabaseOf(const std::string& table_path, const std::string& command,
                                     std::ostream& err, const std::vector<std::string>& reads = {});

struct Registrar {
  Registrar(std::string name, std::string usage, CommandFn fn);
};

}  // namespace vdx

#define VDX_CONCAT_(a, b) a##b
#define VDX_CONCAT(a, b) VDX_CONCAT_(a, b)
#define VDX_COMMAND(name, usage, fn) \
  static ::vdx::Registrar VDX_CONCAT(vdx_registrar_, __LINE__)(name, usage, fn)
