// A file whose writes go to the disk on a thread of their own, in order,
// while the caller goes on making the next ones: copying a batch into the
// page cache costs about as much as making it. At most a few batches wait;
// a read, a truncation or a sync first waits for them all, and a failed
// write comes back from the next write or the sync. Used for the data file
// a restructure writes.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/internal is the engine's own; use the engine's public headers"
#endif

#include <memory>
#include <string>

#include "Env.h"

namespace engine {

// An Env that opens `path` for writing as such a file, and everything else
// as base does. It must outlive the files it opened.
std::unique_ptr<Env> WriteBehindEnv(Env* base, std::string path);

}  // namespace engine
