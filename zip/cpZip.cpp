// The Zip and Unzip components; see cpZip.h.
#include "cpZip.h"

namespace {

template <typename Record, typename Component>
void Wire(Record& cmd, Component& c) {
  cmd.callbacks.lpMajorStatus = c.OnMajorStatus;
  cmd.callbacks.lpMinorStatus = c.OnMinorStatus;
  cmd.callbacks.lpMessageDisplay = c.OnMessage;
}

}  // namespace

int TZipFile::Execute(int action) {
  if (action < 1 || action > 9) return error_code_ = ZE_PARMS;
  Cmd.function = action;
  Wire(Cmd, *this);
  return error_code_ = dzip(Cmd);
}

int TUnzipFile::Execute(int action) {
  if (action < 1 || action > 9) return error_code_ = UE_PARMS;
  Cmd.function = action;
  Cmd.returnCount = 0;
  Cmd.lpszReturnString.clear();
  Wire(Cmd, *this);
  return error_code_ = dunzip(Cmd);
}
