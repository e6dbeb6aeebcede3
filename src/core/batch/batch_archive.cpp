#include "core/batch/batch_archive.h"

#include <algorithm>
#include <ostream>

#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/run/run.h"

namespace qd::batch {
namespace {

// The run of `e` with the command line's choices over the archived ones.
StepOptions Choose(const Options& o, const StepOptions& archived) {
  StepOptions so = archived;
  const ChoicesGiven& g = o.given;
  const StepOptions& c = o.step;
  if (g.formula) so.force.formula = c.force.formula;
  if (g.sign) so.force.sign = c.force.sign;
  if (g.kinds) so.force.secondKindCount = c.force.secondKindCount;
  if (g.dropB) so.force.dropB = c.force.dropB;
  if (g.dropCDF) so.force.dropCDF = c.force.dropCDF;
  if (g.cooler) so.cooler = c.cooler;
  if (g.heater) so.heater = c.heater;
  if (g.blockade) so.blockade = c.blockade;
  if (g.walls) so.walls = c.walls;
  so.threads = c.threads;
  return so;
}

// What follows the archive's last whole snapshot, in words: "77 bytes, a
// snapshot of step 300 cut short (a run stopped while writing it)".
std::string TailText(const archive::Reader& r) {
  const std::string bytes = std::to_string(r.TornBytes()) + (r.TornBytes() == 1 ? " byte" : " bytes");
  const std::string of = r.TornStep() ? " of step " + std::to_string(*r.TornStep()) : "";
  if (r.TailKind() == archive::Tail::Cut)
    return bytes + ", a snapshot" + of + " cut short (a run stopped while writing it)";
  return bytes + " of zeros where a snapshot" + of +
         " was being written (the system stopped before its data reached the disk)";
}

std::string TornNote(const std::string& path, const archive::Reader& r, bool resume, std::int64_t from) {
  return path + ": the last " + TailText(r) +
         (resume ? "; they are cut off and the run goes on from step " + std::to_string(from)
                 : "; they are ignored");
}

// The steps of the snapshots nearest to `step`, for the message that says it
// is not there; the reader has made sure that the steps increase.
std::string Nearest(const std::vector<std::int64_t>& steps, std::int64_t step) {
  const auto after = std::lower_bound(steps.begin(), steps.end(), step);
  std::string text;
  if (after != steps.begin()) text = "step " + std::to_string(*(after - 1));
  if (after != steps.end()) text += (text.empty() ? "step " : " and ") + std::to_string(*after);
  return text;
}

double Ns(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count();
}

}  // namespace

std::int64_t SnapshotSpacing(const std::vector<std::int64_t>& steps) {
  auto even = [](std::int64_t a, std::int64_t b) {
    const std::int64_t d = b - a;
    return d > 0 && a % d == 0 && b % d == 0 ? d : 0;
  };
  for (std::size_t i = steps.size(); i >= 3; --i)
    if (const std::int64_t d = even(steps[i - 3], steps[i - 2]);
        d > 0 && even(steps[i - 2], steps[i - 1]) == d)
      return d;
  for (std::size_t i = steps.size(); i >= 3; --i)
    if (const std::int64_t d = even(steps[i - 3], steps[i - 2])) return d;
  return 0;
}

std::optional<Outcome> StartFromArchive(const Options& o, const std::string& from, SimState& s,
                                        Start& start) {
  try {
    // A resumed archive is locked before it is read: what is read is then
    // what the run appends to, and a second run is refused before it reads.
    std::unique_ptr<archive::Writer> appender;
    std::optional<archive::Reader> read;
    if (o.resume) {
      appender = std::make_unique<archive::Writer>(from);
      read.emplace(from, *appender);
    } else {
      read.emplace(from);
    }
    const archive::Reader& r = *read;
    if (r.Count() == 0) return Outcome{kFileFault, from + ": the archive holds no whole snapshot"};
    std::size_t index = r.Count() - 1;
    if (!o.resume && o.fromStep) {
      const auto& steps = r.Steps();
      const auto at = std::find(steps.begin(), steps.end(), *o.fromStep);
      if (at == steps.end())
        return Outcome{kUsage, from + ": no snapshot of step " + std::to_string(*o.fromStep) +
                                   "; the nearest are " + Nearest(steps, *o.fromStep)};
      index = static_cast<std::size_t>(at - steps.begin());
    }
    archive::Entry e = r.At(index);
    if (o.resume && !e.fault.empty())
      return Outcome{kFloatingPointFault, from + ": the run ended with a fault after step " +
                                              std::to_string(e.step) + " (" + e.fault + "); it cannot go on"};
    static_cast<RunState&>(s) = e.state;
    start.options = o.resume ? e.options : Choose(o, e.options);
    start.options.threads = o.step.threads;
    start.step = e.step;
    start.archiveSize = r.WholeSize();
    if (o.resume) start.archiveEvery = SnapshotSpacing(r.Steps());
    if (r.TornTail()) start.note = TornNote(from, r, o.resume, e.step);
    start.appender = std::move(appender);
  } catch (const FileError& e) {
    return Outcome{kFileFault, from + ": " + e.what()};
  }
  return std::nullopt;
}

void Archiving::Open(const RunState& s, Start& start) {
  if (o_.archive.empty()) return;
  last_ = {start.step, options_, s, {}};
  if (o_.resume) {
    writer_ = std::move(start.appender);
    writer_->ContinueAfter(start.archiveSize);
  } else {
    writer_ = std::make_unique<archive::Writer>(o_.archive, last_);
  }
  // Creating the file is no measure of a snapshot's cost: the cadence
  // starts at the first snapshot appended.
  lastEnd_ = Clock::now();
}

void Archiving::StepDone(std::int64_t step, const RunState& s) {
  if (!writer_ || !cadence_.Due(step)) return;
  const std::int64_t steps = step - last_.step;
  const auto t0 = Clock::now();
  Save(step, s);
  const auto t1 = Clock::now();
  cadence_.Measured(Ns(t1 - t0), Ns(t0 - lastEnd_), steps);
  lastEnd_ = t1;
}

void Archiving::Save(std::int64_t step, const RunState& s, const std::string& fault) {
  if (!writer_) return;
  archive::Entry e{step, options_, s, fault};
  writer_->Append(e);
  last_ = std::move(e);
}

void Archiving::SaveFault(std::int64_t faultStep, const std::string& fault) {
  if (!writer_) return;
  // A fault at the step after a snapshot is appended as a snapshot of that
  // step again, which readers take as the fault marked on it: rewriting the
  // snapshot in place instead could, cut by a crash, damage the one copy.
  qd::Run replay;
  replay.State() = last_.state;
  replay.Options() = options_;
  replay.History().SetEnabled(false);
  const std::int64_t steps = faultStep - 1 - last_.step;
  if (steps > 0 && replay.Go(steps).fault) return;  // cannot happen: the steps are the same
  Save(faultStep - 1, replay.State(), fault);
}

void ArchiveCadence::Measured(double snapshotNs, double stepsNs, std::int64_t steps) {
  snapshotsNs_ += snapshotNs;
  ++snapshots_;
  stepsNs_ += stepsNs;
  steps_ += steps;
  if (fixed_ > 0 || steps_ <= 0 || stepsNs_ <= 0) return;
  const double wanted = (snapshotsNs_ / double(snapshots_)) / (kShare * stepsNs_ / double(steps_));
  // The round numbers 1, 2, 5, 10, 20, ...; never past what a step number holds.
  std::int64_t round = kLeast;
  for (int i = 0; double(round) < wanted && round < (std::int64_t{1} << 60); ++i)
    round = round / (i % 3 == 1 ? 2 : 1) * (i % 3 == 1 ? 5 : 2);
  every_ = std::max(every_, round);
}

int ListArchive(const std::string& path, std::ostream& out, std::string& message) {
  try {
    const archive::Reader r(path);
    out << "# step\tkinetic\tpotential\ttotal\n";
    for (std::size_t i = 0; i < r.Count(); ++i) {
      const archive::Entry e = r.At(i);
      const Extended kinetic = KineticEnergy(e.state), potential = PotentialEnergy(e.state, e.options.force);
      out << e.step << '\t' << LosslessText(kinetic) << '\t' << LosslessText(potential) << '\t'
          << LosslessText(kinetic + potential);
      if (!e.fault.empty()) out << "\tfault after this step: " << e.fault;
      out << '\n';
    }
    out << "# " << r.Count() << (r.Count() == 1 ? " snapshot" : " snapshots")
        << "; torn tail: " << (r.TornTail() ? TailText(r) + ", ignored" : std::string("none")) << '\n';
  } catch (const FileError& e) {
    message = path + ": " + e.what();
    return kFileFault;
  }
  return kDone;
}

}  // namespace qd::batch
