// A run that makes no progress for a while ends itself. Another account
// that only reads a file of the install, the lists or the kit can hold
// an elevated run at a rename, a deletion or a read for as long as it
// likes (an oplock whose break it never acknowledges): nothing can keep
// such a call from waiting. Safe against a kill at any point as the run
// is, it stops itself then as a kill would, with the exit code of the step
// it was in, after saying so.
//
// Progress is a byte copied, an entry decided, a file renamed or removed,
// a piece of a list read or written. What no other account can hold up --
// the flush before the record -- and the time a box waits for a person do
// not count.
#pragma once

namespace stall_watch {

// Starts watching, on a thread of its own. At a stall, onStall is called
// there with the step's exit code, and the process ends with that code.
void Start(int exitCode, void (*onStall)(int exitCode));
// Stops watching: the run has done what another program could hold up.
void Stop();
// The exit code of the step the run is in from now on.
void Step(int exitCode);
// Something moved.
void Progress();
// How long the run has been still when it ends itself, in seconds.
unsigned long DeadlineSeconds();

// Time that does not count, while it lives.
class Pause {
 public:
  Pause();
  ~Pause();
  Pause(const Pause&) = delete;
  Pause& operator=(const Pause&) = delete;
};

}  // namespace stall_watch
