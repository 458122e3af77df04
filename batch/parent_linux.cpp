// Linux: a worker ends with its parent. Were the parent killed outright (SIGKILL, the
// out-of-memory killer), a worker waiting on a named pipe that never gives data would
// otherwise stay for ever; now the system kills it.

#include <sys/prctl.h>
#include <signal.h>
#include <unistd.h>

#include "posix.h"

namespace batch {

void end_with_parent(pid_t parent) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The parent may have gone before the request was made.
  if (::getppid() != parent) ::_exit(0);
}

}  // namespace batch
