#pragma once
// The whole force computation of a step shared among threads, in two
// phases. First the pairs: each thread takes pairs from a common supply and
// computes their factors and their terms in both directions (the term of
// one direction is the other's negated, bit for bit, when both use the same
// parameters). Then the slots: each thread adds up each component's terms
// of the slots whose pairs it computed, in the order the serial pass adds
// them. What is left to the caller is integrating the slots in order.
// Private to the fast step.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/common/extended.h"
#include "core/dynamics/fast_pair_law.h"
#include "core/dynamics/pair_shares.h"
#include "core/dynamics/worker_pool.h"
#include "core/state/sim_state.h"

namespace qd::fast {

class SharedPairs {
 public:
  SharedPairs() : part_([this](int part) { Part(part); }) {}
  SharedPairs(const SharedPairs&) = delete;
  SharedPairs& operator=(const SharedPairs&) = delete;

  // Lists the pairs and the slots and computes the law's values that all
  // threads read. False when that raised a flag: nothing is to be computed
  // then.
  bool Set(const RunState& s, FastPairLaw& law, int first, int threads, Workspace& w, MathCallCounts& calls,
           bool potential = false);

  const std::function<void(int)>& Job() const { return part_; }
  int Threads() const { return threads_; }

  // The pairs and slots not yet taken are left alone.
  void Cancel() {
    cancelled_.store(true);
    next_.store(rows_);
  }

  // After the job: true when no thread raised a flag, and every force is
  // then in w.force. The threads' calls of exp and ln are added to `calls`.
  bool Collect(MathCallCounts& calls) const;

 private:
  // What the list of pairs and rows depends on. Between two steps of a run
  // it seldom changes, and listing 1770 pairs would cost a good part of
  // what the calling thread does alone in a step.
  struct Layout {
    unsigned char present[kSlotCount + 1];
    int n, first, split[3];
    bool equalSets;
    bool operator==(const Layout&) const = default;
  };

  void List(const RunState& s, const FastPairLaw& law, int first, Workspace& w);
  void Part(int part);
  Extended Pairs(int part);
  Extended Sums(int part);

  const std::function<void(int)> part_;
  const RunState* s_ = nullptr;
  FastPairLaw* law_ = nullptr;
  Workspace* w_ = nullptr;
  int threads_ = 1;
  int first_ = 1;
  int n_ = 0;
  bool potential_ = false;
  std::optional<ShareScales> scales_;
  bool subtracts_ = false;
  int scope_ = -1;
  std::optional<Layout> listed_;
  const Workspace* listedIn_ = nullptr;
  int setsUsed_ = 0;
  int rows_ = 0;
  int rowFrom_[kRows] = {}, rowTo_[kRows] = {};
  // need_[k]: how many rows, in the order they are handed out, slot k's sums
  // read (the rows of every higher slot and its own).
  int need_[kRows] = {};
  int slots_ = 0;
  int owner_[kRows] = {};  // which thread sums each slot
  // The job's number, and for each row the number of the last job that
  // finished it: a thread sums a slot as soon as the rows it reads are
  // done, rather than waiting for every pair of the step.
  std::uint64_t job_ = 0;
  std::atomic<std::uint64_t> rowDone_[kRows] = {};
  // Each counter that the threads move on its own cache line, away from
  // what they only read.
  alignas(64) std::atomic<int> next_{0};
  alignas(64) std::atomic<bool> cancelled_{false};
  // What each thread writes as it goes: every exp and ln counts a call, so
  // two threads' counters on one cache line would pass it to and fro.
  struct alignas(64) Own {
    bool raised = false;
    MathCallCounts calls;
  };
  Own own_[kMaxStepThreads];
};

}  // namespace qd::fast
