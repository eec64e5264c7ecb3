// Small helpers the units of the run layer share.
#pragma once

#include <QString>
#include <string>

#include "TableFiles.h"
#include "tcVardex.h"

namespace toolrun {

inline std::string ToStd(const QString& text) { return text.toStdString(); }
inline QString ToQt(const std::string& text) { return QString::fromStdString(text); }

// The flags of a tool started from the menu: ask, check, verify.
constexpr TRunFlags kToolFlags = rfConfirm | rfCheck | rfVerify;

// A file name without its extension.
inline QString StemOf(const QString& name) {
  return QString::fromStdString(engine::Stem(name.toStdString()));
}

}  // namespace toolrun
