#include "cli/command_line.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>

#include "core/batch/run_outputs.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/editing/number_text.h"
#include "core/persistence/file_io.h"
#include "core/persistence/xyz.h"

namespace qd::cli {

using batch::ChoicesGiven;
using batch::Lookup;

const char* const kUsageText =
    "usage: quindelle-run IN.pln|--from ARCHIVE[@STEP] --steps N [--out OUT.pln]\n"
    "         [--from FILE.xyz[@N]] [--formula E|PE|PES|DUDI|EPESminus]\n"
    "         [--sign gravoscope|taoscope] [--kinds 30|15|10] [--drop-b] [--drop-cdf]\n"
    "         [--cooler] [--heater] [--walls none|1.5|10|100] [--blockade] [--dt X]\n"
    "         [--set NAME=X]... [--list positions|velocities] [--csv FILE]\n"
    "         [--xyz FILE] [--every K] [--summary FILE]\n"
    "         [--archive FILE [--archive-every K]] [--threads N] [--progress]\n"
    "       quindelle-run --archive FILE --resume --steps N [--out OUT.pln] ...\n"
    "       quindelle-run --list-archive ARCHIVE\n"
    "       quindelle-run -h|--help | -v|--version\n"
    "\n"
    "Loads IN, runs N time steps exactly as the program's Go button does, and\n"
    "writes the result to OUT. Defaults: formula E, gravoscope, 30 of the second\n"
    "kind, no switches, no walls, the time step stored in IN. The window's\n"
    "Simulation menu offers the same choices under the same names (Formula, Sign,\n"
    "Second kind, Walls, Drop terms, Cooler, Heater, Blockade).\n"
    "  --set NAME=X one of the parameters Dt, A1..F1, A2..F2 instead of IN's\n"
    "               (with a full stop; once per name)\n"
    "  --list       print the 60 slots' positions or velocities after the run\n"
    "  --csv FILE   write step,slot,x,y,z,ux,uy,uz and, on each step's first row,\n"
    "               kinetic,potential,total: at the start, every K steps and at\n"
    "               the end\n"
    "  --xyz FILE   write the particles as extended XYZ frames for molecular\n"
    "               viewers (positions, velocities, slot, kind; step and\n"
    "               energies per frame): at the start, every K steps and at the end\n"
    "  --every K    the steps between two rows of --csv or frames of --xyz\n"
    "               (default 1)\n"
    "  --from FILE.xyz[@N]  start from frame N (0 the first, -1 the last; default\n"
    "               the last) of an extended XYZ file: its particles replace IN's\n"
    "               positions, velocities and presence; the rest comes from IN\n"
    "  --summary FILE  append one row for the run: settings, parameters, steps\n"
    "               done, energies, largest distance from the centre, fault\n"
    "  --archive FILE  write a run archive (.qra): the run's choices and its whole\n"
    "               state at the start, every K steps (default 1000, more when\n"
    "               steps are so cheap that snapshots would take over 1% of the\n"
    "               run), at the end and before a fault; a run killed or a full\n"
    "               disk leaves every snapshot written before intact. An\n"
    "               existing FILE is refused.\n"
    "  --resume     go on with the run in the archive FILE from its last\n"
    "               snapshot, with its choices, for N further steps, appending\n"
    "  --from ARCHIVE[@STEP]  start from the archive's snapshot of STEP (default:\n"
    "               its last) with its choices; choices given here replace them,\n"
    "               and --steps counts from that step on\n"
    "  --list-archive ARCHIVE  print step, kinetic, potential and total energy of\n"
    "               every snapshot, and whether a torn tail was found\n"
    "  --threads N  worker threads for a step (default: one per core)\n"
    "  --progress   show a progress line on standard error (shown anyway when\n"
    "               standard error is a terminal and the run takes over a second)\n"
    "IN, OUT, the CSV, the XYZ, the summary, --from's file and the archive must be\n"
    "different files.\n"
    "Exit status: 0 done, 2 wrong usage, 3 floating-point fault (OUT not written),\n"
    "4 file error, 128+S when stopped by signal S (no output written).\n";

namespace {

std::optional<std::int32_t> WholeNumber(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  try {
    return TextToInteger(text);
  } catch (const ConvertError&) {
    return std::nullopt;
  }
}

// Option values read as text by the parser and checked here, so that every
// refusal names the option and the offending value.
struct Texts {
  std::string in, steps, every, formula, sign, kinds, walls, dt, list, threads, archiveEvery, from;
  std::vector<std::string> sets;
};

// `option` is how the user gave it: "--dt" or "--set A1".
std::string SetParameter(const std::string& name, const std::string& value, const std::string& option,
                         batch::Options& o) {
  for (std::size_t i = 0; i < std::size(batch::kParameterNames); ++i) {
    if (name != batch::kParameterNames[i]) continue;
    if (o.set[i]) return name + " is given twice";
    try {
      o.set[i] = TextToFloat(value, '.');
      // The window's fields forgive blanks around a number; a value on the
      // command line is what was typed. And a value too small to hold is as
      // far out of range as one too large: neither becomes another number.
      const bool blank = !value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) ||
                                            std::isspace(static_cast<unsigned char>(value.back())));
      const std::string mantissa = value.substr(0, value.find_first_of("eE"));
      const bool vanished = *o.set[i] == 0 && mantissa.find_first_of("123456789") != std::string::npos;
      if (blank || vanished) throw ConvertError("'" + value + "' is not a valid floating point value");
    } catch (const ConvertError& e) {
      // The window takes the user's decimal comma; a command line does not.
      const bool comma = value.find(',') != std::string::npos;
      return option + ": " + e.what() + (comma ? " (numbers take a full stop here)" : "");
    }
    return {};
  }
  return "--set needs NAME=X with NAME one of Dt, A1, B1, C1, D1, F1, A2, B2, C2, D2, F2, not '" + name + "'";
}

// The options of the run archive; empty or what is wrong.
std::string ArchiveOptions(const Texts& t, const CLI::App& app, batch::Options& o) {
  if (app.count("--archive") > 0 && o.archive.empty()) return "--archive needs a file name";
  if (app.count("--archive-every") > 0) {
    const auto n = WholeNumber(t.archiveEvery);
    if (!n || *n == 0)
      return "--archive-every needs a whole number of at least 1, not '" + t.archiveEvery + "'";
    if (o.archive.empty()) return "--archive-every only goes with --archive";
    o.archiveEvery = *n;
  }
  const batch::StartPointer frame = batch::SplitStartPointer(t.from);
  if (app.count("--from") > 0 && frame.xyz) {
    if (!frame.problem.empty()) return "--from: " + frame.problem + " (FILE.xyz@N: 0 the first, -1 the last)";
    // A frame holds particles only: the parameters and choices come from IN.
    if (t.in.empty()) return "--from FILE.xyz takes the particles only; give IN.pln for the rest";
    o.from = t.from;
  } else if (app.count("--from") > 0) {
    if (!t.in.empty()) return "give an input file or --from ARCHIVE, not both";
    o.from = t.from;
    // ARCHIVE@STEP, unless the whole text names a file.
    const std::size_t at = t.from.rfind('@');
    struct stat st;
    if (at != std::string::npos && ::stat(t.from.c_str(), &st) != 0) {
      const std::string step = t.from.substr(at + 1);
      const auto n = WholeNumber(step);
      if (!n) return "--from needs ARCHIVE or ARCHIVE@STEP with a whole number, not '" + t.from + "'";
      o.from = t.from.substr(0, at);
      o.fromStep = *n;
    }
    if (o.from.empty()) return "--from needs a file name";
  }
  if (o.resume) {
    if (o.archive.empty()) return "--resume goes with --archive FILE, the archive to go on with";
    if (!t.in.empty() || !o.from.empty())
      return "--resume goes on from the archive's last snapshot; no input file or --from with it";
    // The run goes on as it was; another choice would make it another run.
    for (const char* choice : {"--formula", "--sign", "--kinds", "--walls", "--drop-b", "--drop-cdf",
                               "--cooler", "--heater", "--blockade", "--dt", "--set"})
      if (app.count(choice) > 0)
        return std::string("--resume goes on with the archive's choices; ") + choice + " cannot go with it";
  } else if (!o.archive.empty()) {
    struct stat st;
    if (::lstat(o.archive.c_str(), &st) == 0)
      return "'" + o.archive + "' exists; --resume goes on with the run in it, or name another archive";
  }
  if (t.in.empty() && o.from.empty() && !o.resume) return "no input file";
  return {};
}

// Turns the texts into the command; empty or what is wrong.
std::string Convert(const Texts& t, const CLI::App& app, Command& c) {
  batch::Options& o = c.run;
  StepOptions& so = o.step;
  o.in = t.in;
  ChoicesGiven& g = o.given;
  g = {app.count("--formula") > 0, app.count("--sign") > 0,     app.count("--kinds") > 0,
       app.count("--drop-b") > 0,  app.count("--drop-cdf") > 0, app.count("--cooler") > 0,
       app.count("--heater") > 0,  app.count("--blockade") > 0, app.count("--walls") > 0};
  if (auto problem = ArchiveOptions(t, app, o); !problem.empty()) return problem;
  if (app.count("--steps") == 0) return "--steps is required";
  if (const auto n = WholeNumber(t.steps))
    o.steps = *n;
  else
    return "--steps needs a whole number from 0 to 2147483647, not '" + t.steps + "'";
  if (app.count("--every") > 0) {
    const auto n = WholeNumber(t.every);
    if (!n || *n == 0) return "--every needs a whole number of at least 1, not '" + t.every + "'";
    o.every = *n;
  }
  if (app.count("--threads") > 0) {
    const auto n = WholeNumber(t.threads);
    if (!n || *n == 0) return "--threads needs a whole number of at least 1, not '" + t.threads + "'";
    so.threads = *n;
  }
  if (app.count("--formula") > 0 && !Lookup(batch::kFormulaNames, t.formula, so.force.formula))
    return "unknown formula '" + t.formula + "' (E, PE, PES, DUDI or EPESminus)";
  if (app.count("--sign") > 0 && !Lookup(batch::kSignNames, t.sign, so.force.sign))
    return "unknown sign mode '" + t.sign + "' (gravoscope or taoscope)";
  if (app.count("--kinds") > 0 && !Lookup(batch::kKindNames, t.kinds, so.force.secondKindCount))
    return "--kinds takes 30, 15 or 10, not '" + t.kinds + "'";
  if (app.count("--walls") > 0 && !Lookup(batch::kWallNames, t.walls, so.walls))
    return "--walls takes none, 1.5, 10 or 100, not '" + t.walls + "'";
  static const std::pair<const char*, batch::ListKind> kListNames[] = {
      {"positions", batch::ListKind::Positions}, {"velocities", batch::ListKind::Velocities}};
  if (app.count("--list") > 0 && !Lookup(kListNames, t.list, c.list))
    return "--list takes positions or velocities, not '" + t.list + "'";
  if (app.count("--dt") > 0)
    if (auto problem = SetParameter("Dt", t.dt, "--dt", o); !problem.empty()) return problem;
  for (const std::string& set : t.sets) {
    const std::size_t eq = set.find('=');
    if (eq == std::string::npos) return "--set needs NAME=X, not '" + set + "'";
    const std::string name = set.substr(0, eq);
    if (auto problem = SetParameter(name, set.substr(eq + 1), "--set " + name, o); !problem.empty())
      return problem;
  }
  for (const auto& [option, path] : {std::pair{"--out", &o.out},
                                     {"--csv", &o.csv},
                                     {"--xyz", &o.xyz},
                                     {"--summary", &o.summary},
                                     {"--from", &o.from}})
    if (app.count(option) > 0 && path->empty()) return std::string(option) + " needs a file name";
  if (app.count("--every") > 0 && o.csv.empty() && o.xyz.empty())
    return "--every only goes with --csv or --xyz";
  return {};
}

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

// Output that the user redirected to a full disk or a closed descriptor must
// not pass for success. The caller clears errno before it writes, so that the
// failing write's reason is the one reported.
int CheckedOutput(Console& console, int status) {
  console.out.flush();
  if (console.out) return status;
  const int err = errno != 0 ? errno : EIO;
  console.err << "quindelle-run: standard output: " << FileErrorText(err) << '\n';
  return status == batch::kDone ? batch::kFileFault : status;
}

}  // namespace

std::string ParseArguments(const std::vector<std::string>& args, Command& c) {
  CLI::App app{"quindelle-run"};
  app.set_help_flag();  // the usage text is our own
  Texts t;
  auto once = [](CLI::Option* opt) { return opt->multi_option_policy(CLI::MultiOptionPolicy::Throw); };
  app.add_option("input", t.in);
  for (const auto& [name, text] : {std::pair{"--steps", &t.steps},
                                   {"--every", &t.every},
                                   {"--formula", &t.formula},
                                   {"--sign", &t.sign},
                                   {"--kinds", &t.kinds},
                                   {"--walls", &t.walls},
                                   {"--dt", &t.dt},
                                   {"--list", &t.list},
                                   {"--threads", &t.threads},
                                   {"--out", &c.run.out},
                                   {"--csv", &c.run.csv},
                                   {"--xyz", &c.run.xyz},
                                   {"--summary", &c.run.summary},
                                   {"--archive", &c.run.archive},
                                   {"--archive-every", &t.archiveEvery},
                                   {"--from", &t.from},
                                   {"--list-archive", &c.listArchive}})
    once(app.add_option(name, *text));
  app.add_option("--set", t.sets)->allow_extra_args(false);
  StepOptions& so = c.run.step;
  for (const auto& [name, flag] : {std::pair{"--drop-b", &so.force.dropB},
                                   {"--drop-cdf", &so.force.dropCDF},
                                   {"--cooler", &so.cooler},
                                   {"--heater", &so.heater},
                                   {"--blockade", &so.blockade},
                                   {"--progress", &c.progress},
                                   {"--resume", &c.run.resume}})
    once(app.add_flag(name, *flag));

  // CLI11 wants the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ExtrasError&) {
    const std::string extra = app.remaining().empty() ? std::string() : app.remaining().front();
    if (extra.size() > 1 && extra[0] == '-') return "unknown option '" + extra + "'";
    return "only one input file, please ('" + t.in + "' and '" + extra + "')";
  } catch (const CLI::ParseError& e) {
    // In the program's own words rather than the parser library's.
    const std::string what = e.what();
    const std::size_t colon = what.find(':');
    const std::string option = colon == std::string::npos ? std::string() : what.substr(0, colon);
    if (what.find("At Most") != std::string::npos) return option + " is given twice";
    if (what.find("required") != std::string::npos && what.find("missing") != std::string::npos)
      return option + " needs a value";
    return what;
  }
  if (app.count("--list-archive") > 0) {
    if (args.size() > 2) return "--list-archive takes the archive and nothing else";
    if (c.listArchive.empty()) return "--list-archive needs a file name";
    return {};
  }
  if (auto problem = Convert(t, app, c); !problem.empty()) return problem;
  return batch::DistinctFiles(c.run);
}

int Main(const std::vector<std::string>& args, Console& console) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      errno = 0;
      console.out << kUsageText;
      return CheckedOutput(console, batch::kDone);
    }
    if (a == "--version" || a == "-v") {
      errno = 0;
      console.out << "quindelle-run " << QUINDELLE_VERSION << '\n';
      return CheckedOutput(console, batch::kDone);
    }
  }
  Command c;
  const std::string problem = ParseArguments(args, c);
  if (!problem.empty()) {
    console.err << "quindelle-run: " << problem << "\n\n" << kUsageText;
    return batch::kUsage;
  }
  if (!c.listArchive.empty()) {
    errno = 0;
    std::string message;
    const int status = batch::ListArchive(c.listArchive, console.out, message);
    if (!message.empty()) console.err << message << '\n';
    return CheckedOutput(console, status);
  }
  Progress progress(console, c.progress, c.run.steps);
  batch::Hooks hooks{[&progress](std::int32_t done) { progress.Update(done); }, console.stopSignal, {}};
  auto state = std::make_unique<SimState>();
  const batch::Outcome outcome = batch::Run(c.run, *state, hooks);
  progress.Finish();
  if (!outcome.message.empty()) console.err << outcome.message << '\n';
  if (outcome.status != batch::kDone) return outcome.status;
  errno = 0;
  if (c.list != batch::ListKind::None) batch::List(*state, c.list, console.out);
  return CheckedOutput(console, batch::kDone);
}

}  // namespace qd::cli
