#pragma once
// Worker threads that share the work of one time step. Waking a blocked
// thread on a virtual CPU can take longer than a whole step, so a worker
// spins for a few milliseconds after each job before it blocks: during a run
// it is woken once per step and answers at once.
#include <functional>
#include <memory>

namespace qd {

// The number of threads a step uses when asked for `requested` (0: one per
// core), never more than kMaxStepThreads.
inline constexpr int kMaxStepThreads = 64;
int ResolveThreadCount(int requested);

class WorkerPool {
 public:
  WorkerPool();
  // Ends the workers; no job may be running.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Shares one job among the calling thread and up to parts - 1 workers
  // (created the first time they are needed): part(0) runs on the calling
  // thread, part(i) on worker i if it is ready before the job is done. Each
  // part must take work from a common supply until none is left, so that
  // the calling thread alone finishes the job when no worker joins (which is
  // also what happens when parts is 1 or another thread is using the pool).
  // Returns when every part that started has returned.
  void Run(int parts, const std::function<void(int)>& part);

  // Run in two halves, so that the workers work while the calling thread
  // does something else. Start hands parts 1 to parts - 1 to the workers and
  // returns at once; it returns false, and starts nothing, when parts is 1
  // or the pool is busy with another job. After a true, the same thread must
  // call Finish, which runs part(0) and returns when every part that started
  // has returned; `part` must live until then.
  bool Start(int parts, const std::function<void(int)>& part);
  void Finish(const std::function<void(int)>& part);

 private:
  class Threads;
  std::unique_ptr<Threads> threads_;
};

}  // namespace qd
