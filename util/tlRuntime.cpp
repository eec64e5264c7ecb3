#include "tlRuntime.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// A folder of our own: not a link, owned by us, closed to everyone else.
bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::getuid()) return false;
  return (st.st_mode & 077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

}  // namespace

std::string UserRuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (xdg && *xdg && ::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return xdg;
  const std::string fallback = "/tmp/vardex-" + std::to_string(::getuid());
  ::mkdir(fallback.c_str(), 0700);
  return IsPrivateFolder(fallback) ? fallback : std::string();
}
