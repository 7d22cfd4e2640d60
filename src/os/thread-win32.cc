// Threads and the process-wide stop on Windows. The stop event makes the
// layer's own waits (change notification, lock, pause) return early, so a
// stopped watcher ends by itself, as on Linux; the shutdown terminates only
// a watcher that has not ended within its grace period.
#include <windows.h>

#include <atomic>

#include "os/internal-win32.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

std::atomic<bool> stopRequested{false};
PVOID stopEvent = nullptr;

// CreateThread passes one pointer; the procedure and its parameter wait in
// a slot of this table until the new thread has copied them.
constexpr int kMaxThreads = 16;

struct ThreadSlot {
  volatile LONG taken;
  ThreadProc proc;
  void* parameter;
};

ThreadSlot threadSlots[kMaxThreads];

// How long ThreadEnd waits for a terminated thread to be gone.
constexpr DWORD kTerminateWaitMs = 5000;

DWORD WINAPI RunThread(LPVOID argument) {
  ThreadSlot* slot = static_cast<ThreadSlot*>(argument);
  ThreadProc proc = slot->proc;
  void* parameter = slot->parameter;
  // Free for the next start. A thread terminated before it came this far
  // keeps its slot; that happens only at shutdown.
  InterlockedExchange(&slot->taken, 0);
  proc(parameter);
  return 0;
}

}  // namespace

void* StopEvent() {
  PVOID current = InterlockedCompareExchangePointer(&stopEvent, nullptr, nullptr);
  if (current != nullptr) return current;
  HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset: stays set
  if (made == nullptr) return nullptr;
  PVOID previous = InterlockedCompareExchangePointer(&stopEvent, made, nullptr);
  if (previous != nullptr) {
    CloseHandle(made);  // another thread was quicker
    return previous;
  }
  if (stopRequested.load()) SetEvent(made);  // asked for before the event existed
  return made;
}

Handle ThreadStart(ThreadProc proc, void* parameter, std::uint32_t* threadId) {
  StopEvent();
  ThreadSlot* slot = nullptr;
  for (ThreadSlot& candidate : threadSlots) {
    if (InterlockedCompareExchange(&candidate.taken, 1, 0) == 0) {
      slot = &candidate;
      break;
    }
  }
  if (slot == nullptr) {
    SetLastError(ERROR_TOO_MANY_TCBS);
    return kInvalidHandle;
  }
  slot->proc = proc;
  slot->parameter = parameter;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, RunThread, slot, 0, &id);
  if (thread == nullptr) {
    DWORD error = GetLastError();
    InterlockedExchange(&slot->taken, 0);
    SetLastError(error);
    return kInvalidHandle;
  }
  if (threadId != nullptr) *threadId = id;
  return reinterpret_cast<Handle>(thread);
}

// How long a watcher may take to end by itself at a stop.
constexpr DWORD kStopGraceMs = 1000;

void ThreadEnd(Handle thread) {
  if (thread == kInvalidHandle) return;
  RequestStop();  // the run is ending: the other watchers' waits return too
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  // A watcher sees the stop in every wait and between two files of a scan
  // and ends by itself at once. Only one that does not is terminated:
  // killed inside the C library or the heap it could leave a lock held, and
  // the rest of the shutdown, or the process's own exit, would hang on it.
  if (WaitForSingleObject(handle, kStopGraceMs) == WAIT_OBJECT_0) return;
  TerminateThread(handle, 0);
  // TerminateThread only starts the end; wait until the thread is gone, so
  // that nothing of it runs once the shutdown goes on. The handle stays
  // open, as the shutdown leaves it.
  WaitForSingleObject(handle, kTerminateWaitMs);
}

void RequestStop() {
  stopRequested.store(true);
  HANDLE event = static_cast<HANDLE>(StopEvent());
  if (event != nullptr) SetEvent(event);
}

bool StopRequested() {
  return stopRequested.load();
}

void ResetStopForTesting() {
  stopRequested.store(false);
  HANDLE event = static_cast<HANDLE>(StopEvent());
  if (event != nullptr) ResetEvent(event);
}

void PauseFor(int milliseconds) {
  if (milliseconds <= 0 || StopRequested()) return;
  HANDLE event = static_cast<HANDLE>(StopEvent());
  if (event == nullptr) {
    Sleep(static_cast<DWORD>(milliseconds));
    return;
  }
  WaitForSingleObject(event, static_cast<DWORD>(milliseconds));
}

std::int64_t MonotonicMs() {
  return static_cast<std::int64_t>(GetTickCount64());
}

}  // namespace os
}  // namespace wendrake
