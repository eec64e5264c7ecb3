#include "TableArg.h"

#include "Env.h"
#include "TableFiles.h"

namespace vdx {

std::string ResolveTableArg(const std::string& arg) {
  if (engine::Env::Default()->Exists(arg)) return arg;
  const auto slash = arg.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : arg.substr(0, slash);
  const std::string name = slash == std::string::npos ? arg : arg.substr(slash + 1);
  std::string path = engine::DataFilePath(dir, name);
  if (slash == std::string::npos && path.rfind("./", 0) == 0) path = path.substr(2);
  return path;
}

}  // namespace vdx
