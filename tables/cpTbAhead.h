// TTableAhead: a table restructured in place on a thread of its own, ahead
// of its turn, while the caller's thread restructures the table before it.
// Its commit waits in a batch of its own until the caller takes it over in
// the tables' order, so the commits, and the order of their syncs, are
// those of one table after the other. The attempt is given up, leaving
// nothing behind, whenever it cannot be done without the tables before it:
// a table with links or one that sets records aside (both need the tables
// before them committed), a protected table whose password is not known
// yet (asking is the window's), and any failure at all. Such a table is
// then restructured in its turn as usual, where a failure is reported as
// it always is.
#pragma once

#include <future>
#include <memory>
#include <string>

#include "Journal.h"
#include "cpTbTool.h"

class TTableAhead {
 public:
  // Starts on `table` with the database, reference folder and password of
  // `like`.
  TTableAhead(const TZelTableTools& like, const std::string& table);
  // Waits for the thread; a table not taken keeps its old files.
  ~TTableAhead();
  TTableAhead(const TTableAhead&) = delete;
  TTableAhead& operator=(const TTableAhead&) = delete;

  const std::string& Table() const { return table_; }
  // Waits for the thread, beating this thread's heartbeat meanwhile. True:
  // the table is staged and its commit now waits in `batch` (a failure of
  // the batch to take it raises EBdeApi). False: the attempt left nothing,
  // not even a lock on the table.
  bool TakeInto(engine::CommitBatch& batch);
  // The live table's data file, once taken.
  const std::string& TablePath() const { return tools_.TablePath(); }

 private:
  // Drops a staged table not taken, and waits until nothing holds it.
  void Discard();

  std::string table_;
  TZelTableTools tools_;
  std::unique_ptr<engine::CommitBatch> held_;
  std::future<bool> done_;
};
