#include "platform/stall_watch_thread.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace stall_watch {
namespace {

std::mutex mutex;
std::condition_variable woken;
bool stopping = false;
std::thread thread;

}  // namespace

void StartThread(void (*body)()) { thread = std::thread(body); }

bool Wait(unsigned long milliseconds) {
  std::unique_lock<std::mutex> lock(mutex);
  return !woken.wait_for(lock, std::chrono::milliseconds(milliseconds), [] { return stopping; });
}

void StopThread() {
  if (!thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  woken.notify_all();
  thread.join();
}

unsigned long long Milliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned long long>(now.tv_sec) * 1000 +
         static_cast<unsigned long long>(now.tv_nsec / 1000000);
}

// As a kill ends it: no destructor or handler of the run's may wait for
// what holds the run up.
void EndProcess(int exitCode) { _exit(exitCode); }

}  // namespace stall_watch
