// Runs the built vdx program with a command line and keeps what it printed
// (standard output and error together) and its exit code.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

struct VdxRun {
  int code = -1;
  std::string out;
};

inline VdxRun Vdx(const std::string& args) {
  VdxRun r;
  FILE* p = ::popen((std::string(VDX_BINARY) + " " + args + " 2>&1").c_str(), "r");
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}
