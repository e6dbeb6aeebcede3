#include "core/history/run_history.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

#include "core/batch/csv_rows.h"
#include "core/dynamics/energy.h"

namespace qd {
namespace {

// A snapshot is too large for a deque block of its own kind to hold more
// than one: each sits in a block of its own, with a pointer in the map.
constexpr std::size_t kPerSnapshotBookkeeping = 2 * sizeof(void*) + 16;
constexpr std::size_t kSnapshotBytes = sizeof(Snapshot) + kPerSnapshotBookkeeping;

// What recording may cost, as a share of the steps it records. The bound is
// a twentieth; aiming well under it leaves room for the snapshot at the
// start of a run and for the machine's pace changing under the means, and
// keeps the window's run close to the bare steps' pace.
constexpr double kRecordingShare = 0.015;

// Running mean that follows a change of pace within a few dozen samples.
void Follow(double& mean, double sample) { mean = mean < 0 ? sample : mean + (sample - mean) / 8; }

}  // namespace

Snapshot TakeSnapshot(const RunState& s, const ForceOptions& force, const PotentialFn& potential) {
  Snapshot n;
  n.State = s;
  n.Force = force;
  // The energies raise no fault: an overflow shows as an infinite value.
  n.Kinetic = KineticEnergy(s);
  n.Potential = potential ? potential(s, force) : PotentialEnergy(s, force);
  return n;
}

void InstallSnapshot(const Snapshot& n, RunState& s) { s = n.State; }

RunHistory::RunHistory(std::size_t memoryLimit, Clock clock)
    : limit_(memoryLimit),
      capacity_(std::max<std::size_t>(memoryLimit / kSnapshotBytes, 2)),
      clock_(std::move(clock)) {}

std::int64_t RunHistory::Now() const {
  if (clock_) return clock_();
  // The run loop's own processor time: on a busy machine the time other
  // programs take would otherwise count as the steps' and make K too small.
  timespec t{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0) return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int32_t RunHistory::Interval() const {
  std::int64_t k = fixed_ > 0 ? fixed_ : 1;
  if (fixed_ == 0 && recordNs_ > 0 && stepNs_ > 0) {
    const double wanted = std::ceil(recordNs_ / (kRecordingShare * stepNs_));
    k = wanted >= double(std::numeric_limits<std::int32_t>::max()) ? std::numeric_limits<std::int32_t>::max()
                                                                   : static_cast<std::int64_t>(wanted);
  }
  return static_cast<std::int32_t>(std::max<std::int64_t>(k, memoryInterval_));
}

std::size_t RunHistory::SnapshotBytes() { return kSnapshotBytes; }

std::size_t RunHistory::MemoryBytes() const { return snaps_.size() * kSnapshotBytes; }

void RunHistory::Clear() {
  snaps_.clear();
  endsOffGrid_ = 0;
  source_ = {};
  memoryInterval_ = 1;
  ++revision_;
}

void RunHistory::Append(const Snapshot& snap) {
  endsOffGrid_ = 0;
  if (snaps_.size() >= capacity_) DropEveryOther();
  snaps_.push_back(snap);
  ++revision_;
}

void RunHistory::TruncateAfter(std::size_t i) {
  if (i + 1 >= snaps_.size()) return;
  endsOffGrid_ = 0;
  snaps_.resize(i + 1);
  if (source_.indices.size() > i + 1) source_.indices.resize(i + 1);
  ++revision_;
}

void RunHistory::Adopt(RunHistory&& other) {
  snaps_ = std::move(other.snaps_);
  source_ = std::move(other.source_);
  memoryInterval_ = other.memoryInterval_;
  endsOffGrid_ = 0;
  // A view that saw either history must see the change.
  revision_ = std::max(revision_, other.revision_) + 1;
  running_ = false;
  // The other's limit may be larger: thin to this one's.
  while (snaps_.size() > capacity_) DropEveryOther();
}

void RunHistory::DropEveryOther() {
  // In place, so that thinning never needs more memory than it frees.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < snaps_.size(); i += 2) {
    if (kept != i) snaps_[kept] = snaps_[i];
    ++kept;
  }
  snaps_.resize(kept);
  endsOffGrid_ = 0;
  std::vector<std::size_t>& from = source_.indices;
  for (std::size_t i = 0; 2 * i < from.size(); ++i) from[i] = from[2 * i];
  from.resize((from.size() + 1) / 2);
  memoryInterval_ = Interval() > std::numeric_limits<std::int32_t>::max() / 2
                        ? std::numeric_limits<std::int32_t>::max()
                        : 2 * Interval();
  ++revision_;
}

void RunHistory::Record(const RunState& s, const ForceOptions& force) {
  const std::int64_t start = Now();
  snaps_.push_back(TakeSnapshot(s, force, potential_));
  ++revision_;
  const std::int64_t end = Now();
  Follow(recordNs_, double(end - start));
  lastStepEnd_ = end;
  armed_ = true;
}

void RunHistory::RunStarted(const RunState& s, const ForceOptions& force) {
  running_ = false;
  if (!enabled_) return;
  if (!snaps_.empty() && snaps_.back().State.StepCount == s.StepCount) {
    snaps_.pop_back();
  } else {
    // A start elsewhere (another state) is no continuation of the ends.
    endsOffGrid_ = 0;
    if (snaps_.size() >= capacity_) DropEveryOther();
  }
  Record(s, force);
  running_ = true;
}

void RunHistory::StepDone(const RunState& s, const ForceOptions& force) {
  if (!enabled_) return;
  if (!running_ || armed_) {
    const std::int64_t now = Now();
    if (running_) Follow(stepNs_, double(now - lastStepEnd_));
    lastStepEnd_ = now;
    armed_ = !running_;
    sinceProbe_ = 0;
  } else if (++sinceProbe_ >= kProbeEvery - 1) {
    lastStepEnd_ = Now();
    armed_ = true;
  }
  running_ = true;
  if (fixed_ > 0) {
    if (s.StepCount % Interval() != 0) return;
    // The end of an earlier run gives way to the multiple of K that an
    // unbroken run would have recorded after it.
    for (; endsOffGrid_ > 0 && snaps_.size() > 1; --endsOffGrid_) {
      snaps_.pop_back();
      ++revision_;
    }
    endsOffGrid_ = 0;
    if (snaps_.size() >= capacity_) DropEveryOther();
    if (!snaps_.empty() && snaps_.back().State.StepCount == s.StepCount) return;
    Record(s, force);
    return;
  }
  if (!snaps_.empty()) {
    const std::int64_t since = std::int64_t{s.StepCount} - snaps_.back().State.StepCount;
    // A step count that went back (it wraps after 2^31 - 1 steps) starts
    // the spacing anew.
    if (since >= 0 && since < Interval()) return;
    if (snaps_.size() >= capacity_) {
      DropEveryOther();
      const std::int64_t sinceKept = std::int64_t{s.StepCount} - snaps_.back().State.StepCount;
      if (sinceKept >= 0 && sinceKept < Interval()) return;
    }
  }
  Record(s, force);
}

void RunHistory::RunEnded(const RunState& s, const ForceOptions& force) {
  if (!enabled_ || (!snaps_.empty() && snaps_.back().State.StepCount == s.StepCount)) return;
  if (snaps_.size() >= capacity_) DropEveryOther();
  Record(s, force);
  if (fixed_ > 0 && s.StepCount % Interval() != 0) ++endsOffGrid_;
}

std::string HistoryCsv(const RunHistory& h) {
  std::ostringstream out;
  out << batch::kCsvHeader;
  for (std::size_t i = 0; i < h.Size(); ++i) {
    const Snapshot& n = h.At(i);
    batch::WriteCsvRows(out, n.State, n.State.StepCount, n.Kinetic, n.Potential);
  }
  return out.str();
}

}  // namespace qd
