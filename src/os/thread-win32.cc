// Threads and the process-wide stop on Windows. The stop event lets the
// layer's own waits (change notification, lock, pause) return early, so
// that a stop means the same on both platforms; the shell's ThreadEnd ends
// a watcher that does not leave by itself at once with TerminateThread,
// wherever it is.
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

// How long ThreadEnd lets a thread that the stop woke leave by itself.
constexpr DWORD kLeaveWaitMs = 1000;

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
    return 0;
  }
  slot->proc = proc;
  slot->parameter = parameter;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, RunThread, slot, 0, &id);
  if (thread == nullptr) {
    DWORD error = GetLastError();
    InterlockedExchange(&slot->taken, 0);
    SetLastError(error);
    return 0;
  }
  if (threadId != nullptr) *threadId = id;
  return reinterpret_cast<Handle>(thread);
}

void ThreadEnd(Handle thread) {
  if (thread == 0 || thread == kInvalidHandle) return;
  RequestStop();  // the run is ending: the other watchers' waits return too
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  // A watcher that the stop woke is already on its way out, and a thread
  // terminated in the middle of its own exit can hang the whole process:
  // under Wine TerminateThread or the process exit then never returns, and
  // on Windows the loader lock the dying thread held stays taken. Only a
  // thread still busy after a moment (in a listing, a probe, a program
  // start) is ended by force.
  if (WaitForSingleObject(handle, kLeaveWaitMs) == WAIT_OBJECT_0) return;
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

}  // namespace os
}  // namespace wendrake
