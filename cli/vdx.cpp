// Entry point of `vdx`: finds the command by its first argument and runs it.
#include <algorithm>
#include <iostream>

#include "Command.h"
#include "RunLock.h"
#include "TableFiles.h"

#ifndef VARDEX_VERSION
#define VARDEX_VERSION "unknown"
#endif

namespace vdx {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

Registrar::Registrar(std::string name, std::string usage, CommandFn fn) {
  Registry().push_back({std::move(name), std::move(usage), std::move(fn)});
}

bool TableAlone(const std::string& path, std::ostream& out) {
  const engine::Status twins = engine::RefuseCaseTwins(path);
  if (!twins.ok()) out << path << ": refused: " << twins.ToString() << "\n";
  return twins.ok();
}

std::shared_ptr<void> LockDatabaseOf(const std::string& table_path, const std::string& command,
                                     std::ostream& err, const std::vector<std::string>& reads) {
  // A command refused for twin names gets no lock either: such a refusal
  // leaves the folder as it was, without a lock file.
  for (const std::string& path : reads) {
    if (!engine::RefuseCaseTwins(path).ok()) return std::make_shared<int>(0);
  }
  if (!engine::RefuseCaseTwins(table_path).ok()) return std::make_shared<int>(0);
  const std::string folder = toolrun::DatabaseFolderOfTable(table_path);
  auto lock = std::make_shared<toolrun::TRunLock>(folder, "vdx " + command);
  if (lock->State() != toolrun::TRunLock::lsBusy) return lock;
  err << "vdx " << command << ": another run works on the database in " << folder << " ("
      << lock->Detail() << "); nothing was changed\n";
  return nullptr;
}

}  // namespace vdx

namespace {

void PrintUsage(std::ostream& out) {
  auto commands = vdx::Registry();
  std::sort(commands.begin(), commands.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  out << "usage: vdx COMMAND [ARGS]\n       vdx --help | --version\ncommands:\n";
  for (const auto& c : commands) out << "  vdx " << c.usage << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    PrintUsage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? 2 : 0;
  }
  const std::string name = argv[1];
  if (name == "--version") {
    std::cout << "vdx (Vardex) " VARDEX_VERSION "\n";
    return 0;
  }
  for (const auto& c : vdx::Registry()) {
    if (c.name == name) return c.run(vdx::Args(argv + 2, argv + argc), std::cout, std::cerr);
  }
  std::cerr << "vdx: unknown command '" << name << "'\n";
  PrintUsage(std::cerr);
  return 2;
}
