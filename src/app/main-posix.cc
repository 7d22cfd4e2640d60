// wendrake for Linux: the same watcher as the Windows program, without a
// window or tray. Started in its start directory (or given it with -C), it
// runs in the foreground until SIGINT, SIGTERM or SIGHUP, which run the
// shutdown sequence.
#include <signal.h>

#include "app/options.h"
#include "app/startup.h"
#include "log/log.h"

int main(int argc, char** argv) {
  int status = 0;
  if (!wendrake::ReadOptions(argc, argv, &status)) return status;

  // Started programs are never waited for; the kernel reaps them.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  ignore.sa_flags = SA_NOCLDWAIT;
  sigaction(SIGCHLD, &ignore, nullptr);

  // The ending signals are taken by sigwait below, on this thread only:
  // blocked before any watcher exists, so the watchers inherit the mask.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  if (wendrake::LoadConfiguration()) {
    wendrake::ArmAllEntries();
    int signal = 0;
    sigwait(&ending, &signal);
  }
  wendrake::AllEndThread();
  wendrake::WriteLog(-1, "");
  return 0;
}
