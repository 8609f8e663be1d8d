#include "os/stop_signal.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace lxos {

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

int32_t BlockStopSignals() {
  const sigset_t set = StopSet();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitStopSignal() {
  const sigset_t set = StopSet();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
  return signal;
}

void RequestStop() { kill(getpid(), SIGTERM); }

}  // namespace lxos
