#pragma once
// The record of a run: snapshots of the state taken when a run starts and
// every K steps after, for the energy chart, the timeline and going back to
// an earlier step. A snapshot holds everything the next step reads, so that
// a run continued from it is bit for bit the run that was not interrupted.
//
// K adapts to the machine: taking a snapshot (with its energies) may cost at
// most a twentieth of the time the steps between two snapshots take. Memory
// is bounded: when the snapshots fill it, every other one is dropped and K
// doubles, so the history keeps covering the whole run.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd {

struct Snapshot {
  // The whole run state: a snapshot continues the run bit for bit, and a
  // field added to the run's state is recorded with it.
  RunState State;
  // The force choices the potential was computed with.
  ForceOptions Force;
  Extended Kinetic = 0, Potential = 0;
};

// The potential energy of a state, as a snapshot computes it.
using PotentialFn = std::function<Extended(const RunState&, const ForceOptions&)>;

// The snapshot of `s`, with its energies under `force` (the potential by
// `potential`, or on one thread without it).
Snapshot TakeSnapshot(const RunState& s, const ForceOptions& force, const PotentialFn& potential = {});

// Puts the snapshot's run state into `s`; the view, the names and the flags
// of a window's state stay.
void InstallSnapshot(const Snapshot& snap, RunState& s);

// Where the snapshots came from when they were read from a run archive, so
// that the window can say which of the archive's snapshots it leaves out and
// never writes over the archive.
struct HistorySource {
  std::string path;  // the archive's file name
  // For each of the first snapshots of the history, the index in the
  // archive of the snapshot it holds; what a run adds comes after them.
  std::vector<std::size_t> indices;
  // The archive's snapshots up to the last one still held.
  std::size_t Span() const { return indices.empty() ? 0 : indices.back() + 1; }
  // Whether some of those are not held.
  bool Thinned() const { return indices.size() < Span(); }
};

class RunHistory {
 public:
  static constexpr std::size_t kDefaultMemoryLimit = std::size_t{64} << 20;
  // Monotonic time in nanoseconds; by default the calling thread's
  // processor time.
  using Clock = std::function<std::int64_t()>;

  explicit RunHistory(std::size_t memoryLimit = kDefaultMemoryLimit, Clock clock = {});

  // A run starts on `s`. A snapshot of the same step as the last one
  // replaces it (the parameters may have been changed between the runs).
  void RunStarted(const RunState& s, const ForceOptions& force);
  // One step of the run is done; takes a snapshot when K steps have passed
  // (with a fixed K, at every multiple of K).
  void StepDone(const RunState& s, const ForceOptions& force);
  // A run ended on `s`: its last step is recorded. With a fixed K, such
  // snapshots off the multiples of K are dropped again once a later run
  // that goes on from them records the next multiple, so that the
  // snapshots of a run do not depend on how it was split into shorter runs.
  void RunEnded(const RunState& s, const ForceOptions& force);

  // K fixed at `k` steps, or chosen by the costs as by default (0).
  void SetFixedInterval(std::int32_t k) { fixed_ = k > 0 ? k : 0; }
  std::int32_t FixedInterval() const { return fixed_; }
  // How many of the last snapshots are such ends, for a history that is
  // rebuilt elsewhere (a pickled simulation) to go on as this one would.
  std::size_t EndsOffGrid() const { return endsOffGrid_; }
  void SetEndsOffGrid(std::size_t n) { endsOffGrid_ = std::min(n, snaps_.size()); }

  // A new state was installed: the next run starts a new history.
  void Clear();
  // Adds a snapshot taken elsewhere (read from a run archive), after the
  // others; when the snapshots fill the memory every other one is dropped,
  // as while recording.
  void Append(const Snapshot& snap);
  // Drops every snapshot after index i.
  void TruncateAfter(std::size_t i);
  // Takes the snapshots, the spacing and the source of `other` in place of
  // its own; the clock, the potential and the switch stay.
  void Adopt(RunHistory&& other);
  // The archive the first snapshots were read from; empty when recorded.
  void SetSource(HistorySource source) { source_ = std::move(source); }
  const HistorySource& Source() const { return source_; }

  std::size_t Size() const { return snaps_.size(); }
  bool Empty() const { return snaps_.empty(); }
  const Snapshot& At(std::size_t i) const { return snaps_[i]; }
  // The current snapshot interval K.
  std::int32_t Interval() const;
  // What the snapshots take, bookkeeping included; never above MemoryLimit().
  std::size_t MemoryBytes() const;
  std::size_t MemoryLimit() const { return limit_; }
  // The snapshots that fit under the limit.
  std::size_t Capacity() const { return capacity_; }
  // What one snapshot takes, bookkeeping included.
  static std::size_t SnapshotBytes();
  // Changes whenever the snapshots do, so that a view redraws only then.
  std::uint64_t Revision() const { return revision_; }

  // Recording switched off records nothing (for measuring what it costs).
  void SetEnabled(bool on) { enabled_ = on; }
  // How a snapshot computes its potential energy (on the run's threads).
  void SetPotential(PotentialFn potential) { potential_ = std::move(potential); }
  bool Enabled() const { return enabled_; }

 private:
  void Record(const RunState& s, const ForceOptions& force);
  void DropEveryOther();
  std::int64_t Now() const;

  std::size_t limit_;
  std::size_t capacity_;  // snapshots that fit under the limit
  Clock clock_;
  PotentialFn potential_;
  bool enabled_ = true;
  std::deque<Snapshot> snaps_;
  HistorySource source_;
  std::uint64_t revision_ = 0;
  std::int32_t memoryInterval_ = 1;
  std::int32_t fixed_ = 0;
  // How many of the last snapshots are runs' ends off the multiples of a
  // fixed K.
  std::size_t endsOffGrid_ = 0;
  // Running means of one step's time (recording left out) and of one
  // snapshot's cost; negative until measured.
  double stepNs_ = -1, recordNs_ = -1;
  std::int64_t lastStepEnd_ = 0;
  bool running_ = false;
  // Reading the processor time is a system call of about a microsecond,
  // dear beside a step of a few particles: one step in kProbeEvery is timed,
  // and the first after a snapshot. `armed_`: the clock was read at the end
  // of the last step, so this one is timed.
  static constexpr int kProbeEvery = 16;
  bool armed_ = false;
  int sinceProbe_ = 0;
};

// The snapshots as `quindelle-run --csv` writes its table.
std::string HistoryCsv(const RunHistory& h);

}  // namespace qd
