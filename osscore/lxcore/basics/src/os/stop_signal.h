// The signals that ask a long-running command of lxtool to stop (SIGINT and
// SIGTERM), taken synchronously: they are blocked before any thread starts, so
// that every thread inherits the mask, and one thread waits for them. Nothing
// then runs in a signal handler, and the command stops at a point of its
// choosing. Built into lxtool only, never into the shared library: the library
// leaves its host's signals alone.
#pragma once

#include <cstdint>

namespace lxos {

// Blocks SIGINT and SIGTERM in the calling thread, and so in the threads it
// starts afterwards. Call it before starting any thread. Returns 0, or the
// error number of pthread_sigmask.
int32_t BlockStopSignals();

// Waits until SIGINT or SIGTERM is pending for the process and takes it.
// REQUIRES: BlockStopSignals was called in every thread that exists. Returns
// the signal's number.
int WaitStopSignal();

// Sends SIGTERM to this process, which ends a WaitStopSignal in any thread.
void RequestStop();

}  // namespace lxos
