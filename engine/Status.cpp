#include "Status.h"

namespace engine {

Status& Status::WithContext(std::string context) {
  for (auto& slot : contexts_) {
    if (slot.empty()) {
      slot = std::move(context);
      break;
    }
  }
  return *this;
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  std::string text = message_;
  std::string joined;
  for (const auto& c : contexts_) {
    if (c.empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += c;
  }
  if (!joined.empty()) text += " [" + joined + "]";
  return text;
}

}  // namespace engine
