#include "Status.h"

namespace engine {

namespace {
const std::string kNoText;
const std::array<std::string, 4> kNoContexts;
}  // namespace

Status::Status(DBIResult code, std::string message)
    : state_(new State{code, std::move(message), {}}) {}

Status& Status::operator=(const Status& other) {
  if (this != &other) state_.reset(other.state_ ? new State(*other.state_) : nullptr);
  return *this;
}

const std::string& Status::message() const { return state_ ? state_->message : kNoText; }

const std::array<std::string, 4>& Status::contexts() const {
  return state_ ? state_->contexts : kNoContexts;
}

Status& Status::WithContext(std::string context) {
  if (!state_) state_.reset(new State);
  for (auto& slot : state_->contexts) {
    if (slot.empty()) {
      slot = std::move(context);
      break;
    }
  }
  return *this;
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  std::string text = state_->message;
  std::string joined;
  for (const auto& c : state_->contexts) {
    if (c.empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += c;
  }
  if (!joined.empty()) text += " [" + joined + "]";
  return text;
}

}  // namespace engine
