// libFuzzer target for the macro text the transports receive: a line is
// checked and split into name and parameters, and each parameter is read as
// a date-time as LASTTIME reads it.
#include <cstdint>
#include <cstdlib>

#include "clMacro.h"
#include "clMacroDate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const bool valid = !text.isEmpty() && IsValidMacro(text);
  QStringList params;
  if (valid) {
    (void)MacroName(text);
    params = MacroParams(text);
    if (params.isEmpty()) std::abort();  // never fewer than one
  } else {
    params << text;
  }
  for (const QString& p : params) {
    double when = 0;
    if (ReadMacroDateTime(p, 46000.0, &when)) (void)MacroDateTimeText(when);
  }
  return 0;
}
