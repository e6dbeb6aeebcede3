#include "core/batch/run_outputs.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <optional>
#include <sstream>

#include "core/batch/csv_rows.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/run_archive.h"
#include "core/persistence/xyz.h"

namespace qd::batch {

namespace {

// Where the run ran, so that rows from several machines can be told apart.
std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string SummaryRow(const Options& o, const StepOptions& so, const RunState& s, const std::string& fault,
                       std::int64_t faultStep) {
  auto onOff = [](bool b) { return b ? "on" : "off"; };
  const std::string& input = o.resume ? o.archive : o.from.empty() ? o.in : o.from;
  std::string row = CsvField(input) + ',' + CsvField(o.out) + ',' + NameOf(kFormulaNames, so.force.formula) +
                    ',' + NameOf(kSignNames, so.force.sign) + ',' + std::to_string(so.force.secondKindCount) +
                    ',' + NameOf(kWallNames, so.walls) + ',' + onOff(so.force.dropB) + ',' +
                    onOff(so.force.dropCDF) + ',' + onOff(so.cooler) + ',' + onOff(so.heater) + ',' +
                    onOff(so.blockade);
  for (const auto param : kParameterBlock) row += ',' + LosslessText(s.*param);
  const Extended kinetic = KineticEnergy(s), potential = PotentialEnergy(s, so.force);
  row += ',' + std::to_string(s.StepCount) + ',' + LosslessText(kinetic) + ',' + LosslessText(potential) +
         ',' + LosslessText(kinetic + potential) + ',' + LosslessText(LargestDistanceFromCentre(s)) + ',' +
         CsvField(fault) + ',' + (fault.empty() ? std::string() : std::to_string(faultStep)) + ',' +
         CsvField(HostName()) + ',' + QUINDELLE_VERSION + '\n';
  return row;
}

// An output file and the path the user named it by, for messages.
struct Output {
  std::optional<ReplacingFile> file;
  std::string path;
};

// Restores the signal mask on every way out.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t hold;
    sigemptyset(&hold);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&hold, sig);
    pthread_sigmask(SIG_BLOCK, &hold, &old_);
  }
  ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t old_;
};

// Said when a signal ends the run, so that a run killed by a scheduler or
// a closed terminal does not end without a word.
std::string StoppedText(int sig, std::int64_t done) {
  const char* name = sig == SIGINT    ? "SIGINT"
                     : sig == SIGTERM ? "SIGTERM"
                     : sig == SIGHUP  ? "SIGHUP"
                                      : nullptr;
  return "stopped by " + (name != nullptr ? std::string(name) : "signal " + std::to_string(sig)) + " after " +
         std::to_string(done) + (done == 1 ? " step" : " steps") + "; no output written";
}

}  // namespace

std::string DistinctFiles(const Options& o) {
  // An archive's step is split off already; an XYZ frame's number is not.
  const StartPointer frame = SplitStartPointer(o.from);
  const std::string from = frame.xyz ? frame.path : o.from;
  const std::pair<const char*, const std::string*> files[] = {
      {"the input", &o.in}, {"--from", &from},         {"--out", &o.out},        {"--csv", &o.csv},
      {"--xyz", &o.xyz},    {"--summary", &o.summary}, {"--archive", &o.archive}};
  for (std::size_t i = 0; i < std::size(files); ++i)
    for (std::size_t j = i + 1; j < std::size(files); ++j)
      if (!files[i].second->empty() && !files[j].second->empty() &&
          SameFile(*files[i].second, *files[j].second))
        return std::string(files[i].first) + " and " + files[j].first + " are the same file ('" +
               *files[j].second + "')";
  return {};
}

Outcome RunOn(const Options& o, qd::Run& run, Start& start, const Hooks& hooks, SimState* result) {
  auto stopSignal = [&hooks] { return hooks.stopSignal ? hooks.stopSignal() : 0; };
  // Past the last step the step counter holds, the table's steps would wrap
  // while the archive's go on.
  if (start.step + o.steps > archive::kLastStep)
    return Outcome{kUsage, (o.resume         ? o.archive
                            : o.from.empty() ? o.in
                                             : o.from) +
                               ": the run would end at step " + std::to_string(start.step + o.steps) +
                               ", past " + std::to_string(archive::kLastStep) +
                               ", the last step a run counts; from step " + std::to_string(start.step) +
                               " at most " + std::to_string(archive::kLastStep - start.step) + " more"};
  RunState& s = run.State();
  const StepOptions options = run.Options();
  // The step number the table shows for `done` steps of this run.
  auto stepAt = [&start](std::int64_t done) { return static_cast<std::int32_t>(start.step + done); };

  Output out{{}, o.out}, csv{{}, o.csv}, xyz{{}, o.xyz};
  // Frames gather here and go to the file in large writes.
  std::string frames;
  constexpr std::size_t kFrameBuffer = 1 << 20;
  const std::string* failing = &o.out;  // the path a FileError belongs to
  std::string fault, summaryError;
  std::int64_t n = 0;     // the step that faulted
  std::int64_t done = 0;  // the steps taken
  Archiving archiving(o, options, o.archiveEvery > 0 ? o.archiveEvery : start.archiveEvery);
  // The archive keeps what the run did: it is there to continue from.
  auto stopped = [&](int sig, std::int64_t steps) {
    std::string said = StoppedText(sig, steps);
    if (archiving.On())
      said += " but the archive, which holds the run up to step " + std::to_string(start.step + steps);
    return Outcome{128 + sig, said};
  };
  try {
    // Both files exist from the start, so that an unusable folder is found
    // before the first step rather than after the whole run.
    if (!o.out.empty()) out.file.emplace(o.out);
    // The summary row comes after the whole run: a path that cannot take it
    // is found now, not after hours of steps.
    failing = &o.summary;
    if (!o.summary.empty()) CheckAppendable(o.summary);
    failing = &o.csv;
    if (!o.csv.empty()) {
      csv.file.emplace(o.csv);
      csv.file->Write(kCsvHeader);
    }
    failing = &o.xyz;
    if (!o.xyz.empty()) xyz.file.emplace(o.xyz);
    failing = &o.archive;
    archiving.Open(s, start);
    // The run's own steps, with the table, the trajectory and the archive
    // written and the signals looked at between them.
    // The energies once for both records. Computed alone, the potential of
    // 60 particles costs more than a step; the next step finds it among the
    // values its forces are computed from at almost no cost. So a recorded
    // state waits, copied, for the next step to hand its potential over;
    // after the last step or a fault, or with slots held, it is computed
    // alone (on the run's threads, the same to the last bit).
    struct Waiting {
      bool waiting = false;
      std::int32_t step = 0;
      std::unique_ptr<RunState> state = std::make_unique<RunState>();
    } waiting;
    auto write = [&](std::optional<Extended> handed) {
      if (!waiting.waiting) return;
      waiting.waiting = false;
      const RunState& at = *waiting.state;
      const Extended kinetic = KineticEnergy(at);
      const Extended potential =
          handed ? *handed : run.Engine().Potential(at, options.force, ResolveThreadCount(options.threads));
      if (csv.file) {
        failing = &o.csv;
        std::ostringstream rows;
        WriteCsvRows(rows, at, waiting.step, kinetic, potential);
        csv.file->Write(rows.str());
      }
      if (xyz.file) {
        failing = &o.xyz;
        AppendXyzFrame(frames, at, options, kinetic, potential, &run.Engine().Pool(),
                       ResolveThreadCount(options.threads));
        if (frames.size() >= kFrameBuffer) {
          xyz.file->Write(frames);
          frames.clear();
        }
      }
    };
    std::optional<std::int32_t> recorded;  // the step last recorded
    auto record = [&](std::int32_t step) {
      if (!csv.file && !xyz.file) return;
      recorded = step;
      *waiting.state = s;
      waiting.step = step;
      waiting.waiting = true;
      run.Engine().Forces().WantPotential();
    };
    record(stepAt(0));
    if (const int sig = stopSignal()) return stopped(sig, 0);
    int stoppedBy = 0;
    std::optional<std::string> archiveFailed;
    const RunOutcome ran = run.Go(o.steps, [&](std::int64_t steps) {
      const auto step = static_cast<std::int32_t>(steps);
      done = steps;
      write(run.Engine().Forces().TakePotential());
      if (step % o.every == 0 || step == o.steps) record(stepAt(steps));
      if (archiving.On()) {
        try {
          archiving.StepDone(start.step + steps, s);
        } catch (const FileError& e) {
          archiveFailed = e.what();
          return false;
        }
      }
      if (hooks.stepDone) hooks.stepDone(step);
      stoppedBy = stopSignal();
      return stoppedBy == 0 && (!hooks.between || hooks.between(steps));
    });
    if (archiveFailed) throw FileError(*archiveFailed);
    if (stoppedBy != 0) {
      archiving.SaveEnd(start.step + ran.steps, s);
      archiving.Close();
      return stopped(stoppedBy, ran.steps);
    }
    // A run ended early by its caller ends with its last step recorded, as
    // a run asked for that many steps does.
    if (!ran.fault && recorded && *recorded != stepAt(ran.steps)) record(stepAt(ran.steps));
    write(std::nullopt);
    if (ran.fault) {
      fault = ran.fault->message;
      n = start.step + ran.steps + 1;
      out.file.reset();  // a faulted run writes no result
      archiving.SaveFault(n, fault);
    } else {
      archiving.SaveEnd(start.step + ran.steps, s);
    }
    archiving.Close();
    if (xyz.file) {
      failing = &o.xyz;
      xyz.file->Write(frames);
    }
    if (out.file) {
      failing = &o.out;
      FillConfigRecord(*result);
      out.file->Write(result->ConfigRecord.data(), result->ConfigRecord.size());
    }
    for (Output* f : {&csv, &xyz, &out}) {
      failing = &f->path;
      if (f->file) f->file->Finish();
    }
    // The row goes in before any output moves: a summary that blocks (a
    // FIFO nobody reads) can then be stopped with the old files still in
    // place. A row that cannot be written does not cost the results.
    if (!o.summary.empty()) {
      if (const int sig = stopSignal()) return stopped(sig, ran.steps);
      try {
        AppendLine(o.summary, kSummaryHeader, SummaryRow(o, options, s, fault, n));
      } catch (const FileError& e) {
        if (const int sig = stopSignal()) return stopped(sig, ran.steps);
        summaryError = o.summary + ": " + e.what();
      }
    }
    // With the signals held, a signal either stops the run before any output
    // moves or finds every output in place.
    HeldSignals held;
    if (const int sig = stopSignal()) return stopped(sig, ran.steps);
    for (Output* f : {&csv, &xyz, &out}) {
      failing = &f->path;
      if (f->file) f->file->Commit();
    }
  } catch (const FileError& e) {
    // A signal that cut a wait on a FIFO or a device is a stop, not a fault
    // of the file.
    if (const int sig = stopSignal()) return stopped(sig, done);
    return {kFileFault, *failing + ": " + e.what()};
  }

  Outcome outcome;
  outcome.message = start.note;
  outcome.steps = done;
  if (!fault.empty()) {
    outcome.status = kFloatingPointFault;
    outcome.fault = fault;
    outcome.faultStep = n;
    outcome.message += (outcome.message.empty() ? "" : "\n") + ("step " + std::to_string(n) + ": " + fault);
  }
  if (!summaryError.empty()) {
    outcome.message += (outcome.message.empty() ? "" : "\n") + summaryError;
    outcome.status = kFileFault;
  }
  return outcome;
}

}  // namespace qd::batch
