// vdx aliases: each alias of the engine configuration with its driver and
// folder, in the order the program lists them.
#include <ostream>

#include "Command.h"
#include "DbExceptions.h"
#include "Session.h"

namespace {

int Aliases(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  engine::TSession& session = engine::TSession::Default();
  bool named = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config" && i + 1 < args.size()) {
      session.SetConfigFile(args[++i]);
      named = true;
    } else {
      err << "usage: vdx aliases [--config FILE]\n";
      return 2;
    }
  }
  if (!session.ConfigFileFound()) {
    // A file named on the command line must be there; the default one may
    // be missing (no aliases), but the user learns where it was looked for.
    err << "vdx aliases: the configuration file " << session.ConfigFile()
        << (named ? " cannot be read\n" : " is missing: no aliases\n");
    if (named) return 2;
  }
  for (const std::string& name : session.GetAliasNames()) {
    out << name << '\t' << session.GetAliasDriverName(name) << '\t' << session.AliasPath(name)
        << '\n';
  }
  return 0;
}

}  // namespace

VDX_COMMAND("aliases", "aliases [--config FILE]   each alias, its driver and its folder", Aliases);
