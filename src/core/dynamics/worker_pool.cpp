#include "core/dynamics/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace qd {

namespace {

using Clock = std::chrono::steady_clock;

// Long enough to cover the redraw and event processing between two steps of
// the window's run loop; short enough not to hold a core once a run ends.
constexpr auto kSpinTime = std::chrono::milliseconds(3);
// Busy-waiting with pause is fastest while the machine has a core to spare;
// after this, a waiting thread yields so that an oversubscribed machine
// still makes progress.
constexpr int kPauseRounds = 2000;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

class WorkerPool::Threads {
 public:
  ~Threads() {
    {
      std::lock_guard lock(m_);
      stop_.store(true);
      Publish(0);
    }
    cv_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  bool Start(int parts, const std::function<void(int)>& part) {
    if (parts <= 1 || busy_.exchange(true)) return false;
    while (static_cast<int>(threads_.size()) < parts - 1) {
      const int index = static_cast<int>(threads_.size());
      // Jobs published before it existed are not its business.
      const std::uint64_t now = epoch_.load();
      threads_.emplace_back([this, index, now] { Work(index + 1, now); });
    }
    job_ = &part;
    bool wake;
    {
      std::lock_guard lock(m_);
      Publish(parts);
      wake = sleepers_ > 0;
    }
    if (wake) cv_.notify_all();
    return true;
  }

  void Finish(const std::function<void(int)>& part) {
    part(0);
    // The caller's share returns once all the work is taken. A worker that has not
    // joined by now is not waited for: it will find the job closed.
    epoch_.fetch_or(kClosed);
    WaitUntil([&] { return active_.load() == 0; });
    busy_.store(false);
  }

 private:
  static constexpr std::uint64_t kPartsMask = 0xFF;
  static constexpr std::uint64_t kClosed = 0x100;
  static_assert(kMaxStepThreads <= kPartsMask);

  // Under m_.
  void Publish(int parts) {
    const std::uint64_t next = ((epoch_.load() >> 9) + 1) << 9;
    epoch_.store(next | static_cast<std::uint64_t>(parts));
  }

  template <class Done>
  static bool WaitUntil(Done done, Clock::time_point giveUp = Clock::time_point::max()) {
    for (int i = 0; !done(); ++i) {
      if (i < kPauseRounds) {
        CpuRelax();
        continue;
      }
      std::this_thread::yield();
      if (Clock::now() > giveUp) return false;
    }
    return true;
  }

  void Work(int part, std::uint64_t seen) {
    for (;;) {
      auto changed = [&] { return epoch_.load() != seen; };
      // Workers beyond the number of cores would only take turns with the
      // ones that spin: they block at once.
      if (!WaitUntil(changed, part < cores_ ? Clock::now() + kSpinTime : Clock::now())) {
        std::unique_lock lock(m_);
        ++sleepers_;
        cv_.wait(lock, changed);
        --sleepers_;
      }
      // Joining first and looking at the job second (both sequentially
      // consistent) means that either the caller waits for this worker or
      // the worker sees the job closed.
      active_.fetch_add(1);
      seen = epoch_.load();
      if (stop_.load()) {
        active_.fetch_sub(1);
        return;
      }
      if ((seen & kClosed) == 0 && part < static_cast<int>(seen & kPartsMask)) (*job_)(part);
      active_.fetch_sub(1);
    }
  }

  const int cores_ = ResolveThreadCount(0);
  std::atomic<bool> busy_{false};  // one job at a time
  std::vector<std::thread> threads_;
  const std::function<void(int)>* job_ = nullptr;
  std::atomic<int> active_{0};  // workers inside a job, or looking at one
  // A job's number, whether it is closed, and in the low bits its number of
  // parts: read in one load, so that a worker never mistakes the state or
  // the count of one job for another's.
  std::atomic<std::uint64_t> epoch_{0};
  std::mutex m_;
  std::condition_variable cv_;
  int sleepers_ = 0;
  std::atomic<bool> stop_{false};
};

int ResolveThreadCount(int requested) {
  // The library reads the count from a system file on every call: once per
  // step would cost three system calls a step.
  static const int cores = static_cast<int>(std::thread::hardware_concurrency());
  int n = requested;
  if (n <= 0) n = cores;
  return std::clamp(n, 1, kMaxStepThreads);
}

WorkerPool::WorkerPool() : threads_(std::make_unique<Threads>()) {}

WorkerPool::~WorkerPool() = default;

void WorkerPool::Run(int parts, const std::function<void(int)>& part) {
  if (!Start(parts, part)) {
    part(0);
    return;
  }
  Finish(part);
}

bool WorkerPool::Start(int parts, const std::function<void(int)>& part) { return threads_->Start(parts, part); }

void WorkerPool::Finish(const std::function<void(int)>& part) { threads_->Finish(part); }

}  // namespace qd
