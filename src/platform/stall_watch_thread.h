// What the stall watch needs of the platform: a thread that can be woken
// and let go of, a clock that only goes forward, and an end of the process
// that runs nothing more of it.
#pragma once

namespace stall_watch {

void StartThread(void (*body)());
// Waits milliseconds; false at once when the thread is to stop.
bool Wait(unsigned long milliseconds);
// Stops the thread and waits for it to end.
void StopThread();
unsigned long long Milliseconds();
[[noreturn]] void EndProcess(int exitCode);

}  // namespace stall_watch
