// The components Zip and Unzip of the main window: they keep the command
// record's fields as properties, forward the library's callbacks to their
// events and run one action at a time. An action outside 1..9 is refused
// without calling the library.
#pragma once

#include "DZip.h"

class TZipFile {
 public:
  ZIPCMDSTRUCT Cmd;  // the properties, named as the record's fields
  TStatusCallback OnMajorStatus;
  TStatusCallback OnMinorStatus;
  TMessageCallback OnMessage;

  // Runs `action` and keeps its return code.
  int Execute(int action);
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_ = 0;
};

class TUnzipFile {
 public:
  UNZIPCMDSTRUCT Cmd;
  TStatusCallback OnMajorStatus;
  TStatusCallback OnMinorStatus;
  TMessageCallback OnMessage;

  int Execute(int action);
  int ErrorCode() const { return error_code_; }
  long long ReturnCount() const { return Cmd.returnCount; }
  const std::string& ReturnString() const { return Cmd.lpszReturnString; }

 private:
  int error_code_ = 0;
};
