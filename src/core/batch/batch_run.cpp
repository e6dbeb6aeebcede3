#include "core/batch/batch_run.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <ostream>
#include <sstream>

#include "core/batch/csv_rows.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/run/run.h"
#include "core/editing/number_text.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/xyz.h"
#include "core/state/sim_state.h"

namespace qd::batch {

const char* const kSummaryHeader =
    "input,output,formula,sign,kinds,walls,drop_b,drop_cdf,cooler,heater,blockade,"
    "Dt,A1,B1,C1,D1,F1,A2,B2,C2,D2,F2,steps,kinetic,potential,total,max_distance,fault,fault_step,host,version\n";

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

std::string SummaryRow(const Options& o, const SimState& s, const std::string& fault,
                       std::int64_t faultStep) {
  const StepOptions& so = o.step;
  auto onOff = [](bool b) { return b ? "on" : "off"; };
  std::string row = CsvField(o.in) + ',' + CsvField(o.out) + ',' + NameOf(kFormulaNames, so.force.formula) +
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

Outcome Run(const Options& o, SimState& s, const Hooks& hooks) {
  auto stopSignal = [&hooks] { return hooks.stopSignal ? hooks.stopSignal() : 0; };
  s = SimState{};
  s.TaonCount = kSlotCount;
  try {
    ReadConfigFile(s, o.in);
  } catch (const FileError& e) {
    return {kFileFault, o.in + ": " + e.what()};
  }
  ApplyConfigRecord(s);
  s.StepCount = 0;
  for (std::size_t i = 0; i < o.set.size(); ++i)
    if (o.set[i]) s.*kParameterBlock[i] = *o.set[i];
  if (!o.from.empty()) {
    try {
      InstallStartFrom(s, o.from);
    } catch (const FileError& e) {
      return {kFileFault, SplitStartPointer(o.from).path + ": " + e.what()};
    }
  }

  Output out{{}, o.out}, csv{{}, o.csv}, xyz{{}, o.xyz};
  // Frames gather here and go to the file in large writes.
  std::string frames;
  constexpr std::size_t kFrameBuffer = 1 << 20;
  const std::string* failing = &o.out;  // the path a FileError belongs to
  std::string fault, summaryError;
  std::int64_t n = 0;  // the step that faulted
  std::int64_t done = 0;  // the steps taken
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
    // The run's own steps, with the table and the trajectory written and the
    // signals looked at between them.
    qd::Run run(s);
    run.Options() = o.step;
    run.History().SetEnabled(false);
    // The energies once for both records, the potential on the run's threads
    // (the same to the last bit as on one): they cost more than the text.
    auto record = [&](std::int32_t step) {
      if (!csv.file && !xyz.file) return;
      const Extended kinetic = run.Kinetic(), potential = run.Potential();
      if (csv.file) {
        failing = &o.csv;
        std::ostringstream rows;
        WriteCsvRows(rows, s, step, kinetic, potential);
        csv.file->Write(rows.str());
      }
      if (xyz.file) {
        failing = &o.xyz;
        AppendXyzFrame(frames, s, o.step, kinetic, potential);
        if (frames.size() >= kFrameBuffer) {
          xyz.file->Write(frames);
          frames.clear();
        }
      }
    };
    record(0);
    if (const int sig = stopSignal()) return {128 + sig, StoppedText(sig, 0)};
    int stoppedBy = 0;
    const RunOutcome ran = run.Go(o.steps, [&](std::int64_t steps) {
      const auto step = static_cast<std::int32_t>(steps);
      done = steps;
      if (step % o.every == 0 || step == o.steps) record(step);
      if (hooks.stepDone) hooks.stepDone(step);
      stoppedBy = stopSignal();
      return stoppedBy == 0;
    });
    if (stoppedBy != 0) return {128 + stoppedBy, StoppedText(stoppedBy, ran.steps)};
    if (ran.fault) {
      fault = ran.fault->message;
      n = ran.fault->step;
      out.file.reset();  // a faulted run writes no result
    }
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
      if (const int sig = stopSignal()) return {128 + sig, StoppedText(sig, o.steps)};
      try {
        AppendLine(o.summary, kSummaryHeader, SummaryRow(o, s, fault, n));
      } catch (const FileError& e) {
        if (const int sig = stopSignal()) return {128 + sig, StoppedText(sig, o.steps)};
        summaryError = o.summary + ": " + e.what();
      }
    }
    // With the signals held, a signal either stops the run before any output
    // moves or finds every output in place.
    HeldSignals held;
    if (const int sig = stopSignal()) return {128 + sig, StoppedText(sig, o.steps)};
    for (Output* f : {&csv, &xyz, &out}) {
      failing = &f->path;
      if (f->file) f->file->Commit();
    }
  } catch (const FileError& e) {
    // A signal that cut a wait on a FIFO or a device is a stop, not a fault
    // of the file.
    if (const int sig = stopSignal()) return {128 + sig, StoppedText(sig, done)};
    return {kFileFault, *failing + ": " + e.what()};
  }

  Outcome result;
  if (!fault.empty()) result = {kFloatingPointFault, "step " + std::to_string(n) + ": " + fault};
  if (!summaryError.empty()) {
    result.message += (result.message.empty() ? "" : "\n") + summaryError;
    result.status = kFileFault;
  }
  return result;
}

}  // namespace qd::batch
