#include "cpTbAhead.h"

#include <chrono>

#include "Env.h"
#include "Heartbeat.h"

TTableAhead::TTableAhead(const TZelTableTools& like, const std::string& table)
    : table_(table),
      held_(std::make_unique<engine::CommitBatch>(engine::CommitBatch::GatherOnly{})) {
  tools_.CopySettings(like);
  tools_.TableName = table;
  tools_.AskPassword = false;
  tools_.MetaTable().AskPassword = false;
  done_ = std::async(std::launch::async, [this] {
    engine::ScopedCommitBatch batched(held_.get());
    try {
      tools_.Restructure(std::string(), false);
      return true;
    } catch (...) {
      return false;  // done again in turn, where the failure is reported
    }
  });
}

TTableAhead::~TTableAhead() {
  if (done_.valid()) done_.wait();
  Discard();
}

void TTableAhead::Discard() {
  if (!held_ || held_->Empty()) return;
  held_.reset();
  // The table's source is closed by the background releaser: its lock is
  // gone once every release handed over so far has run.
  std::promise<void> released;
  engine::Env::Default()->ReleaseLater([&released] { released.set_value(); });
  released.get_future().wait();
}

bool TTableAhead::TakeInto(engine::CommitBatch& batch) {
  while (done_.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
    engine::Heartbeat();
  if (done_.get() && !held_->Empty()) {
    const engine::Status s = batch.TakeFrom(*held_);
    if (!s.ok()) throw EBdeApi(s);
    return true;
  }
  Discard();
  return false;
}
