#pragma once
// The batch run's use of run archives: where a run taken from an archive
// starts, and the snapshots a run appends. batch_run.cpp drives them.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/batch/batch_run.h"
#include "core/persistence/run_archive.h"

namespace qd::batch {

// Where a run starts: the state, the choices it steps with, the number of
// its first step, and for a resumed archive its locked writer, where
// appending goes on, and the interval its snapshots were taken at.
struct Start {
  StepOptions options;
  std::int64_t step = 0;
  std::unique_ptr<archive::Writer> appender;  // --resume: locked, unchanged yet
  std::uint64_t archiveSize = 0;              // --resume: the archive's whole snapshots
  std::int64_t archiveEvery = 0;              // --resume: 0 when the snapshots show none
  std::string note;                           // said on standard error when done
};

// The snapshot of the archive `from` that --from or --resume names, into
// `s` and `start`; for --resume the archive is locked before it is read.
std::optional<Outcome> StartFromArchive(const Options& o, const std::string& from, SimState& s, Start& start);

// The interval a run archived its snapshots at, from their steps: the
// spacing of the last three snapshots in a row that lie evenly on its
// multiples, else of the last two before the last snapshot (which may be a
// run's end at any step); 0 when the steps show none.
std::int64_t SnapshotSpacing(const std::vector<std::int64_t>& steps);

// Appends the run's snapshots to the archive and keeps the last one, from
// which the state before a fault is found again.
class Archiving {
 public:
  Archiving(const Options& o, const StepOptions& options, std::int64_t every)
      : o_(o), options_(options), cadence_(every) {}

  bool On() const { return writer_ != nullptr; }
  void Open(const RunState& s, Start& start);
  // After each step: a snapshot when one is due, timed for the cadence.
  void StepDone(std::int64_t step, const RunState& s);
  void Save(std::int64_t step, const RunState& s, const std::string& fault = {});
  // After the steps: the end state, unless just saved.
  void SaveEnd(std::int64_t step, const RunState& s) {
    if (writer_ && last_.step != step) Save(step, s);
  }
  // The state after step `faultStep` - 1, found by running on from the last
  // snapshot (the faulted step has changed the working arrays), saved with
  // the fault.
  void SaveFault(std::int64_t faultStep, const std::string& fault);
  void Close() {
    if (writer_) writer_->Close();
  }

 private:
  using Clock = std::chrono::steady_clock;

  const Options& o_;
  StepOptions options_;
  std::unique_ptr<archive::Writer> writer_;
  archive::Entry last_;
  ArchiveCadence cadence_;
  Clock::time_point lastEnd_;
};

}  // namespace qd::batch
