#include "core/batch/batch_run.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <ostream>

#include "core/batch/csv_rows.h"
#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/dynamics/step.h"
#include "core/editing/number_text.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/state/sim_state.h"

namespace qd::batch {

const char* const kUsageText =
    "usage: quindelle-run IN.pln --steps N [--out OUT.pln]\n"
    "         [--formula E|PE|PES|DUDI|EPESminus] [--sign gravoscope|taoscope]\n"
    "         [--kinds 30|15|10] [--drop-b] [--drop-cdf] [--cooler] [--heater]\n"
    "         [--walls none|1.5|10|100] [--blockade] [--dt X]\n"
    "         [--list positions|velocities] [--csv FILE [--every K]] [--progress]\n"
    "\n"
    "Loads IN, runs N time steps exactly as the program's Go button does, and\n"
    "writes the result to OUT. Defaults: formula E, gravoscope, 30 of the second\n"
    "kind, no switches, no walls, the time step stored in IN.\n"
    "  --list       print the 60 slots' positions or velocities after the run\n"
    "  --csv FILE   write step,slot,x,y,z,ux,uy,uz and, on each step's first row,\n"
    "               kinetic,potential,total: at the start, every K steps and at\n"
    "               the end\n"
    "  --progress   show a progress line on standard error (shown anyway when\n"
    "               standard error is a terminal and the run takes over a second)\n"
    "Exit status: 0 done, 2 wrong usage, 3 floating-point fault (OUT not written),\n"
    "4 file error.\n";

namespace {

bool ParseCount(const std::string& text, std::int32_t& value) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  try {
    value = TextToInteger(text);
  } catch (const ConvertError&) {
    return false;
  }
  return value >= 0;
}

// The value that follows an option, or a complaint.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, std::string& value, std::string& error) {
  if (i + 1 >= args.size()) {
    error = args[i] + " needs a value";
    return false;
  }
  value = args[++i];
  return true;
}

}  // namespace

std::string ParseArguments(const std::vector<std::string>& args, Options& o) {
  bool everyGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v, error;
    if (a == "--drop-b") {
      o.step.force.dropB = true;
    } else if (a == "--drop-cdf") {
      o.step.force.dropCDF = true;
    } else if (a == "--cooler") {
      o.step.cooler = true;
    } else if (a == "--heater") {
      o.step.heater = true;
    } else if (a == "--blockade") {
      o.step.blockade = true;
    } else if (a == "--progress") {
      o.progress = true;
    } else if (a == "--steps") {
      if (!TakeValue(args, i, v, error)) return error;
      if (!ParseCount(v, o.steps))
        return "--steps needs a whole number from 0 to 2147483647, not '" + v + "'";
    } else if (a == "--every") {
      if (!TakeValue(args, i, v, error)) return error;
      if (!ParseCount(v, o.every) || o.every == 0)
        return "--every needs a whole number of at least 1, not '" + v + "'";
      everyGiven = true;
    } else if (a == "--out") {
      if (!TakeValue(args, i, v, error)) return error;
      o.out = v;
    } else if (a == "--csv") {
      if (!TakeValue(args, i, v, error)) return error;
      o.csv = v;
    } else if (a == "--formula") {
      if (!TakeValue(args, i, v, error)) return error;
      static const std::pair<const char*, Formula> kNames[] = {{"E", Formula::E},
                                                               {"PE", Formula::PE},
                                                               {"PES", Formula::PES},
                                                               {"DUDI", Formula::DUDI},
                                                               {"EPESminus", Formula::EPESminus}};
      bool found = false;
      for (const auto& [name, f] : kNames)
        if (v == name) {
          o.step.force.formula = f;
          found = true;
        }
      if (!found) return "unknown formula '" + v + "' (E, PE, PES, DUDI or EPESminus)";
    } else if (a == "--sign") {
      if (!TakeValue(args, i, v, error)) return error;
      if (v == "gravoscope")
        o.step.force.sign = SignMode::Gravoscope;
      else if (v == "taoscope")
        o.step.force.sign = SignMode::Taoscope;
      else
        return "unknown sign mode '" + v + "' (gravoscope or taoscope)";
    } else if (a == "--kinds") {
      if (!TakeValue(args, i, v, error)) return error;
      if (v == "30")
        o.step.force.secondKindCount = 30;
      else if (v == "15")
        o.step.force.secondKindCount = 15;
      else if (v == "10")
        o.step.force.secondKindCount = 10;
      else
        return "--kinds takes 30, 15 or 10, not '" + v + "'";
    } else if (a == "--walls") {
      if (!TakeValue(args, i, v, error)) return error;
      if (v == "none")
        o.step.walls = Walls::None;
      else if (v == "1.5")
        o.step.walls = Walls::Thermos3X3;
      else if (v == "10")
        o.step.walls = Walls::Thermos20X20;
      else if (v == "100")
        o.step.walls = Walls::ThermosNXN;
      else
        return "--walls takes none, 1.5, 10 or 100, not '" + v + "'";
    } else if (a == "--dt") {
      if (!TakeValue(args, i, v, error)) return error;
      try {
        o.dt = TextToFloat(v, '.');
      } catch (const ConvertError& e) {
        return std::string("--dt: ") + e.what();
      }
      o.hasDt = true;
    } else if (a == "--list") {
      if (!TakeValue(args, i, v, error)) return error;
      if (v == "positions")
        o.list = ListKind::Positions;
      else if (v == "velocities")
        o.list = ListKind::Velocities;
      else
        return "--list takes positions or velocities, not '" + v + "'";
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option '" + a + "'";
    } else if (o.in.empty()) {
      o.in = a;
    } else {
      return "only one input file, please ('" + o.in + "' and '" + a + "')";
    }
  }
  if (o.in.empty()) return "no input file";
  if (o.steps < 0) return "--steps is required";
  if (everyGiven && o.csv.empty()) return "--every only goes with --csv";
  return {};
}

std::string LosslessText(Extended v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 21);
  return std::string(buf, r.ptr);
}

namespace {

class CsvWriter {
 public:
  explicit CsvWriter(const std::string& path) : path_(path) {}

  void Open() {
    file_.open(path_, std::ios::out | std::ios::trunc);
    if (!file_) ThrowFileError(errno ? errno : EIO);
    file_ << kCsvHeader;
    Check();
  }

  void Rows(const SimState& s, const ForceOptions& fo, std::int32_t step) {
    WriteCsvRows(file_, s, step, KineticEnergy(s), PotentialEnergy(s, fo));
    Check();
  }

  void Close() {
    file_.close();
    Check();
  }

  const std::string& path() const { return path_; }

 private:
  void Check() {
    if (!file_) ThrowFileError(errno ? errno : EIO);
  }
  std::string path_;
  std::ofstream file_;
};

// One line on standard error, redrawn at most ten times a second.
class Progress {
 public:
  Progress(Console& c, bool forced, std::int32_t total)
      : c_(c), forced_(forced), total_(total), start_(c.seconds()) {}

  void Update(std::int32_t done) {
    const double now = c_.seconds();
    if (!shown_ && !forced_ && !(c_.errIsTerminal && now - start_ > 1.0)) return;
    if (shown_ && now - last_ < 0.1 && done != total_) return;
    last_ = now;
    shown_ = true;
    const double elapsed = now - start_;
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const int width = 30;
    const int filled = total_ > 0 ? static_cast<int>(static_cast<double>(done) * width / total_) : width;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, ' ');
    char line[160];
    double left = rate > 0 ? (total_ - done) / rate : 0;
    if (left > 359999) left = 359999;  // shown as at most 5999:59
    std::snprintf(line, sizeof line, "\r[%s] %d/%d steps  %.1f steps/s  %d:%02d left ", bar.c_str(), done,
                  total_, rate, static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    c_.err << line << std::flush;
  }

  void Finish() {
    if (shown_) c_.err << '\n' << std::flush;
    shown_ = false;
  }

 private:
  Console& c_;
  bool forced_;
  std::int32_t total_;
  double start_;
  double last_ = 0;
  bool shown_ = false;
};

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

}  // namespace

int Run(const Options& o, Console& console) {
  SimState s{};
  s.TaonCount = kSlotCount;
  try {
    ReadConfigFile(s, o.in);
  } catch (const FileError& e) {
    console.err << o.in << ": " << e.what() << '\n';
    return kFileFault;
  }
  ApplyConfigRecord(s);
  s.StepCount = 0;
  if (o.hasDt) s.Dt = o.dt;

  CsvWriter csv(o.csv);
  Progress progress(console, o.progress, o.steps);
  std::int64_t n = 0;  // wide enough to step past the largest count
  try {
    if (!o.csv.empty()) {
      csv.Open();
      csv.Rows(s, o.step.force, 0);
    }
    for (n = 1; n <= o.steps; ++n) {
      const auto step = static_cast<std::int32_t>(n);
      AdvanceStep(s, o.step, step);
      if (!o.csv.empty() && (step % o.every == 0 || step == o.steps)) csv.Rows(s, o.step.force, step);
      progress.Update(step);
    }
    if (!o.csv.empty()) csv.Close();
  } catch (const FpFault& e) {
    progress.Finish();
    console.err << "step " << n << ": " << e.what() << '\n';
    return kFloatingPointFault;
  } catch (const FileError& e) {
    progress.Finish();
    console.err << csv.path() << ": " << e.what() << '\n';
    return kFileFault;
  }
  progress.Finish();

  if (!o.out.empty()) {
    FillConfigRecord(s);
    try {
      WriteConfigFile(s, o.out);
    } catch (const FileError& e) {
      console.err << o.out << ": " << e.what() << '\n';
      return kFileFault;
    }
  }
  if (o.list != ListKind::None) List(s, o.list, console.out);
  return kDone;
}

int Main(const std::vector<std::string>& args, Console& console) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      console.out << kUsageText;
      return kDone;
    }
  }
  Options o;
  const std::string problem = ParseArguments(args, o);
  if (!problem.empty()) {
    console.err << "quindelle-run: " << problem << "\n\n" << kUsageText;
    return kUsage;
  }
  return Run(o, console);
}

}  // namespace qd::batch
