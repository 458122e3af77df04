// Internal to the batch library on POSIX systems: what the pool's processes share with
// the signal handling (signals_posix.cpp) and with the system's own ways to end a
// worker with its parent (parent_linux.cpp).
#pragma once
#include <poll.h>
#include <sys/types.h>
#include <time.h>

namespace batch {

// In a worker just forked: the signal handling the program started with.
void release_signals();

// ppoll(2) with the held signals let through: waits until one of `fds` is ready, a
// signal arrives or `timeout` passes (nullptr: no limit).
int wait_for(pollfd* fds, unsigned long count, const timespec* timeout);

// In a worker just made: it is ended when `parent` ends.
void end_with_parent(pid_t parent);

}  // namespace batch
