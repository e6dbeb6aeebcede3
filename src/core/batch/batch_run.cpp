#include "core/batch/batch_run.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "core/batch/batch_archive.h"
#include "core/batch/csv_rows.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/editing/number_text.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/run_archive.h"
#include "core/persistence/xyz.h"
#include "core/run/run.h"
#include "core/state/sim_state.h"

namespace qd::batch {

const char* const kSummaryHeader =
    "input,output,formula,sign,kinds,walls,drop_b,drop_cdf,cooler,heater,blockade,"
    "Dt,A1,B1,C1,D1,F1,A2,B2,C2,D2,F2,steps,kinetic,potential,total,max_distance,fault,fault_step,host,"
    "version\n";

std::string LosslessText(Extended v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 21);
  return std::string(buf, r.ptr);
}

Extended LargestDistanceFromCentre(const SimState& s) {
  Extended cx = 0, cy = 0, cz = 0;
  int count = 0;
  for (int k = 1; k <= kSlotCount; ++k) {
    if (s.Present[k] == 0) continue;
    cx += s.X[k];
    cy += s.Y[k];
    cz += s.Z[k];
    ++count;
  }
  if (count == 0) return 0;
  cx /= count;
  cy /= count;
  cz /= count;
  Extended largest = 0;
  for (int k = 1; k <= kSlotCount; ++k) {
    if (s.Present[k] == 0) continue;
    const Extended dx = s.X[k] - cx, dy = s.Y[k] - cy, dz = s.Z[k] - cz;
    largest = std::max(largest, std::sqrt(dx * dx + dy * dy + dz * dz));
  }
  return largest;
}

void List(const SimState& s, ListKind kind, std::ostream& out) {
  for (int k = 1; k <= kSlotCount; ++k) {
    out << k;
    if (s.Present[k] == 0) {
      out << "\t\t\t\n";
      continue;
    }
    const bool pos = kind == ListKind::Positions;
    out << '\t' << FloatToText(pos ? s.X[k] : s.UX[k], '.') << '\t'
        << FloatToText(pos ? s.Y[k] : s.UY[k], '.') << '\t' << FloatToText(pos ? s.Z[k] : s.UZ[k], '.')
        << '\n';
  }
}

std::string ForceChoicesText(const ForceOptions& f) {
  std::string text = std::string("formula ") + NameOf(kFormulaNames, f.formula) + ", sign " +
                     NameOf(kSignNames, f.sign) + ", kinds " + std::to_string(f.secondKindCount);
  if (f.dropB) text += ", drop-b";
  if (f.dropCDF) text += ", drop-cdf";
  return text;
}

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

std::string SummaryRow(const Options& o, const StepOptions& so, const SimState& s, const std::string& fault,
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

namespace {

std::optional<Outcome> LoadStart(const Options& o, SimState& s, Start& start) {
  start.options = o.step;
  if (o.resume) return StartFromArchive(o, o.archive, s, start);
  const bool frame = !o.from.empty() && SplitStartPointer(o.from).xyz;
  if (o.from.empty() || frame) {
    try {
      ReadConfigFile(s, o.in);
    } catch (const FileError& e) {
      return Outcome{kFileFault, o.in + ": " + e.what()};
    }
    ApplyConfigRecord(s);
    s.StepCount = 0;
    // A frame of an extended XYZ file brings particles only: they replace
    // IN's, whose parameters and choices stay.
    if (frame) {
      try {
        InstallStartFrom(s, o.from, start.options.force.secondKindCount);
      } catch (const FileError& e) {
        return Outcome{kFileFault, SplitStartPointer(o.from).path + ": " + e.what()};
      }
    }
    return std::nullopt;
  }
  // The kinds of file --from starts from are told apart here, a run archive
  // by its mark (archive::LooksLikeArchive). A file of no known kind is read
  // as an archive, so that the message says what is wrong with it.
  return StartFromArchive(o, o.from, s, start);
}

}  // namespace

Outcome Run(const Options& o, SimState& s, const Hooks& hooks) {
  auto stopSignal = [&hooks] { return hooks.stopSignal ? hooks.stopSignal() : 0; };
  s = SimState{};
  s.TaonCount = kSlotCount;
  Start start;
  if (auto problem = LoadStart(o, s, start)) return *problem;
  // Past the last step the step counter holds, the table's steps would wrap
  // while the archive's go on.
  if (start.step + o.steps > archive::kLastStep)
    return Outcome{kUsage, (o.resume ? o.archive : o.from) + ": the run would end at step " +
                               std::to_string(start.step + o.steps) + ", past " +
                               std::to_string(archive::kLastStep) +
                               ", the last step a run counts; from step " + std::to_string(start.step) +
                               " at most " + std::to_string(archive::kLastStep - start.step) + " more"};
  for (std::size_t i = 0; i < o.set.size(); ++i)
    if (o.set[i]) s.*kParameterBlock[i] = *o.set[i];
  const StepOptions& options = start.options;
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
    qd::Run run(s);
    run.Options() = options;
    run.History().SetEnabled(false);
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
    auto record = [&](std::int32_t step) {
      if (!csv.file && !xyz.file) return;
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
      return stoppedBy == 0;
    });
    if (archiveFailed) throw FileError(*archiveFailed);
    if (stoppedBy != 0) {
      archiving.SaveEnd(start.step + ran.steps, s);
      archiving.Close();
      return stopped(stoppedBy, ran.steps);
    }
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
      FillConfigRecord(s);
      out.file->Write(s.ConfigRecord.data(), s.ConfigRecord.size());
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

  Outcome result;
  result.message = start.note;
  if (!fault.empty()) {
    result.status = kFloatingPointFault;
    result.message += (result.message.empty() ? "" : "\n") + ("step " + std::to_string(n) + ": " + fault);
  }
  if (!summaryError.empty()) {
    result.message += (result.message.empty() ? "" : "\n") + summaryError;
    result.status = kFileFault;
  }
  return result;
}

}  // namespace qd::batch
