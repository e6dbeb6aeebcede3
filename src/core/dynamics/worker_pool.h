#pragma once
// Worker threads that live as long as the program and share the work of one
// time step. Waking a blocked thread on a virtual CPU can take longer than a
// whole step, so a worker spins for a few milliseconds after each job before
// it blocks: during a run it is woken once per step and answers at once.
#include <functional>

namespace qd {

// The number of threads a step uses when asked for `requested` (0: one per
// core), never more than kMaxStepThreads.
inline constexpr int kMaxStepThreads = 64;
int ResolveThreadCount(int requested);

// Shares one job among the calling thread and up to parts - 1 workers
// (created the first time they are needed): part(0) runs on the calling
// thread, part(i) on worker i if it is ready before the job is done. Each
// part must take work from a common supply until none is left, so that
// the calling thread alone finishes the job when no worker joins (which is also what
// happens when parts is 1 or another thread is using the pool). Returns when
// every part that started has returned.
void RunParts(int parts, const std::function<void(int)>& part);

// RunParts in two halves, so that the workers work while the calling thread
// does something else. StartParts hands parts 1 to parts - 1 to the workers
// and returns at once; it returns false, and starts nothing, when parts is 1
// or the pool is busy with another job. After a true, the same thread must
// call FinishParts, which runs part(0) and returns when every part that
// started has returned; `part` must live until then.
bool StartParts(int parts, const std::function<void(int)>& part);
void FinishParts(const std::function<void(int)>& part);

}  // namespace qd
