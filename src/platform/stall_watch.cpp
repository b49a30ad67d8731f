#include "platform/stall_watch.h"

#include <atomic>

#include "platform/kill_points.h"
#include "platform/stall_watch_thread.h"

namespace stall_watch {
namespace {

std::atomic<unsigned long> progress{0};  // moves with each step of the run
std::atomic<int> stepCode{0};
std::atomic<int> paused{0};
std::atomic<bool> started{false};
void (*stalled)(int) = nullptr;

// The run notes its progress with no call to the system: the watch looks
// at it a few times a second.
void Watch() {
  const unsigned long long deadline = StallDeadline();
  unsigned long seen = progress.load();
  unsigned long long since = Milliseconds();
  while (Wait(deadline < 2000 ? 50 : 500)) {
    const unsigned long long now = Milliseconds();
    const unsigned long noted = progress.load();
    if (noted != seen || paused.load() > 0) {
      seen = noted;
      since = now;
      continue;
    }
    if (now - since < deadline) continue;
    const int code = stepCode.load();
    if (stalled) stalled(code);
    EndProcess(code);
  }
}

}  // namespace

void Start(int exitCode, void (*onStall)(int exitCode)) {
  if (started.exchange(true)) return;
  stepCode.store(exitCode);
  stalled = onStall;
  StartThread(&Watch);
}

void Stop() {
  if (started.load()) StopThread();
}

void Step(int exitCode) {
  stepCode.store(exitCode);
  Progress();
}

void Progress() { progress.fetch_add(1, std::memory_order_relaxed); }

unsigned long DeadlineSeconds() { return (StallDeadline() + 999) / 1000; }

Pause::Pause() { paused.fetch_add(1); }

Pause::~Pause() {
  Progress();
  paused.fetch_sub(1);
}

}  // namespace stall_watch
