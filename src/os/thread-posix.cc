// Threads and the process-wide stop on Linux. A watcher is never killed
// where it stands, as TerminateThread does on Windows: RequestStop makes
// every wait of this layer return at once, a signal installed without
// SA_RESTART breaks a watcher out of a flock that is blocked, and ThreadEnd
// joins it.
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "os/internal-posix.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<int> stopFd{-1};

// A real-time signal of its own, so that it meets no handler of the program
// shell or of the sanitizers.
int WakeSignal() {
  return SIGRTMIN + 3;
}

void OnWakeSignal(int) {}

pthread_once_t wakeHandlerOnce = PTHREAD_ONCE_INIT;

void InstallWakeHandler() {
  struct sigaction action = {};
  action.sa_handler = OnWakeSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: flock and poll must come back with EINTR
  sigaction(WakeSignal(), &action, nullptr);
}

// Threads live in a fixed table; a thread's Handle is its slot number + 1,
// so 0 stays free to mean "no thread".
constexpr int kMaxThreads = 16;

// How often ThreadEnd repeats the wake signal, and how many times before it
// gives up on a thread that does not stop (the process then ends it by
// exiting): 10 ms, 10 s.
constexpr long kJoinStepNs = 10L * 1000 * 1000;
constexpr int kJoinSteps = 1000;

struct ThreadSlot {
  pthread_t thread;
  ThreadProc proc;
  void* parameter;
  sem_t* started;
  std::uint32_t id;
  std::atomic<bool> taken;
  bool givenUp;  // left running by ThreadEnd; never joined or signalled again
};

ThreadSlot threadSlots[kMaxThreads];

void* RunThread(void* argument) {
  ThreadSlot* slot = static_cast<ThreadSlot*>(argument);
  // A shell that waits for its ending signals with sigwait blocks them all
  // before it starts threads, and the mask is inherited; the wake signal
  // must still reach this thread.
  sigset_t wake;
  sigemptyset(&wake);
  sigaddset(&wake, WakeSignal());
  pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);

  ThreadProc proc = slot->proc;
  void* parameter = slot->parameter;
  slot->id = static_cast<std::uint32_t>(syscall(SYS_gettid));
  sem_post(slot->started);  // the slot's start fields are not read after this
  proc(parameter);
  return nullptr;
}

}  // namespace

std::int64_t MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int RemainingMs(std::int64_t startMs, int timeoutMs) {
  if (timeoutMs < 0) return -1;
  std::int64_t left = startMs + timeoutMs - MonotonicMs();
  return left > 0 ? static_cast<int>(left) : 0;
}

int StopFd() {
  int fd = stopFd.load();
  if (fd >= 0) return fd;
  int made = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (made < 0) return -1;
  int expected = -1;
  if (!stopFd.compare_exchange_strong(expected, made)) {
    close(made);  // another thread was quicker
    return expected;
  }
  if (stopRequested.load()) RequestStop();  // asked for before the fd existed
  return made;
}

Handle ThreadStart(ThreadProc proc, void* parameter, std::uint32_t* threadId) {
  pthread_once(&wakeHandlerOnce, InstallWakeHandler);
  StopFd();  // made now, so that RequestStop from a signal handler finds it

  ThreadSlot* slot = nullptr;
  int number = 0;
  for (; number < kMaxThreads; ++number) {
    bool expected = false;
    if (threadSlots[number].taken.compare_exchange_strong(expected, true)) {
      slot = &threadSlots[number];
      break;
    }
  }
  if (slot == nullptr) {
    errno = EAGAIN;
    return kInvalidHandle;
  }

  sem_t started;
  if (sem_init(&started, 0, 0) != 0) {
    slot->taken.store(false);
    return kInvalidHandle;
  }
  slot->proc = proc;
  slot->parameter = parameter;
  slot->givenUp = false;
  slot->started = &started;
  int rc = pthread_create(&slot->thread, nullptr, RunThread, slot);
  if (rc != 0) {
    sem_destroy(&started);
    slot->taken.store(false);
    errno = rc;
    return kInvalidHandle;
  }
  // The kernel's thread id, as ps -L and /proc/<pid>/task show it, is only
  // known once the thread runs.
  while (sem_wait(&started) != 0 && errno == EINTR) {
  }
  sem_destroy(&started);
  if (threadId != nullptr) *threadId = slot->id;
  return number;  // the slot
}

void ThreadEnd(Handle thread) {
  if (thread < 0 || thread >= kMaxThreads) return;
  ThreadSlot& slot = threadSlots[thread];
  if (!slot.taken.load() || slot.givenUp) return;

  // Ending a watcher means the run is ending: the stop also covers a caller
  // that did not ask for it first.
  RequestStop();
  pthread_once(&wakeHandlerOnce, InstallWakeHandler);
  // A signal that arrives just before the thread enters flock is spent
  // before the call can be interrupted, so it is sent again and again until
  // the join succeeds.
  for (int step = 0; step < kJoinSteps; ++step) {
    pthread_kill(slot.thread, WakeSignal());
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += kJoinStepNs;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_nsec -= 1000000000L;
      until.tv_sec += 1;
    }
    int rc = pthread_timedjoin_np(slot.thread, nullptr, &until);
    if (rc == 0) {
      slot.taken.store(false);
      return;
    }
    if (rc != ETIMEDOUT) return;  // the calling thread itself, or not joinable
  }
  // A thread stuck where no signal reaches it must not hold the shutdown up
  // for ever; it keeps its slot and ends with the process.
  pthread_detach(slot.thread);
  slot.givenUp = true;
}

void RequestStop() {
  // Only a store and a write, and errno kept: this may run inside a signal
  // handler.
  int savedErrno = errno;
  stopRequested.store(true);
  int fd = StopFd();
  if (fd >= 0) {
    std::uint64_t one = 1;
    ssize_t written = write(fd, &one, sizeof one);  // the count only grows; never read
    (void)written;
  }
  errno = savedErrno;
}

bool StopRequested() {
  return stopRequested.load();
}

void ResetStopForTesting() {
  stopRequested.store(false);
  int fd = stopFd.load();
  if (fd >= 0) {
    std::uint64_t count;
    ssize_t got = read(fd, &count, sizeof count);  // non-blocking: empties the count
    (void)got;
  }
}

void PauseFor(int milliseconds) {
  if (milliseconds <= 0) return;
  std::int64_t start = MonotonicMs();
  for (;;) {
    if (StopRequested()) return;
    int left = RemainingMs(start, milliseconds);
    if (left == 0) return;
    // Without a stop fd poll just sleeps, and the stop is seen when the
    // wake signal cuts the sleep short.
    struct pollfd stop = {StopFd(), POLLIN, 0};
    int n = poll(&stop, 1, left);
    if (n >= 0) return;
    if (errno != EINTR) return;
  }
}

}  // namespace os
}  // namespace wendrake
