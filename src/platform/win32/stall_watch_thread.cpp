#include "platform/stall_watch_thread.h"

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace stall_watch {
namespace {

ScopedHandle stop;
ScopedHandle thread;

DWORD WINAPI Run(LPVOID body) {
  reinterpret_cast<void (*)()>(body)();
  return 0;
}

}  // namespace

void StartThread(void (*body)()) {
  stop = ScopedHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!stop.IsValid()) return;
  thread = ScopedHandle(CreateThread(nullptr, 0, &Run, reinterpret_cast<LPVOID>(body), 0, nullptr));
}

bool Wait(unsigned long milliseconds) {
  return WaitForSingleObject(stop.Get(), milliseconds) == WAIT_TIMEOUT;
}

void StopThread() {
  if (!thread.IsValid()) return;
  SetEvent(stop.Get());
  WaitForSingleObject(thread.Get(), INFINITE);
  thread.Reset();
}

unsigned long long Milliseconds() { return GetTickCount64(); }

// As a kill ends it: no destructor or handler of the run's may wait for
// what holds the run up.
void EndProcess(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  for (;;) Sleep(INFINITE);
}

}  // namespace stall_watch
