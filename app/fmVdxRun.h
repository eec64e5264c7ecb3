// What the tool runs of TFormVardex (fmVdxRun.cpp) share with the code that
// starts them and handles their end.
#pragma once

#include <exception>

// The silent end of a tool run: TFormVardex::FinishRun throws it once the
// end message is shown and the log record written, and the exception
// handler lets it pass unseen.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};
