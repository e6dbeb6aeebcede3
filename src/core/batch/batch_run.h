#pragma once
// A run without any window: loads a configuration, runs the window's time
// step on it a given number of times, and writes the result, a table of every
// step and a summary row. The command line that asks for it lives in src/cli.
#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd::batch {

enum class ListKind { None, Positions, Velocities };

// The names the command line and the summary use for the window's choices.
inline constexpr std::pair<const char*, Formula> kFormulaNames[] = {{"E", Formula::E},
                                                                    {"PE", Formula::PE},
                                                                    {"PES", Formula::PES},
                                                                    {"DUDI", Formula::DUDI},
                                                                    {"EPESminus", Formula::EPESminus}};
inline constexpr std::pair<const char*, SignMode> kSignNames[] = {{"gravoscope", SignMode::Gravoscope},
                                                                  {"taoscope", SignMode::Taoscope}};
inline constexpr std::pair<const char*, int> kKindNames[] = {{"30", 30}, {"15", 15}, {"10", 10}};
inline constexpr std::pair<const char*, Walls> kWallNames[] = {{"none", Walls::None},
                                                               {"1.5", Walls::Thermos3X3},
                                                               {"10", Walls::Thermos20X20},
                                                               {"100", Walls::ThermosNXN}};
// The parameter block in file order, as the window labels its fields.
inline constexpr const char* kParameterNames[11] = {"Dt", "A1", "B1", "C1", "D1", "F1",
                                                    "A2", "B2", "C2", "D2", "F2"};

// The name of `value` in a table of names, or "?".
template <class T, std::size_t N>
const char* NameOf(const std::pair<const char*, T> (&names)[N], T value) {
  for (const auto& [name, v] : names)
    if (v == value) return name;
  return "?";
}

// The value named `text` in a table of names; false when no name matches.
template <class T, std::size_t N>
bool Lookup(const std::pair<const char*, T> (&names)[N], const std::string& text, T& value) {
  for (const auto& [name, v] : names)
    if (text == name) {
      value = v;
      return true;
    }
  return false;
}

// Which of the step choices the command line gave: over a run taken from an
// archive, those replace the archive's and the others stay.
struct ChoicesGiven {
  bool formula = false, sign = false, kinds = false, dropB = false, dropCDF = false, cooler = false,
       heater = false, blockade = false, walls = false;
};

// How often quindelle-run archives a snapshot when it is not told: every
// 1000 steps, or every larger round number of steps (1, 2 or 5 times a power
// of ten) where a snapshot would take more than 1% of the time of the steps
// between two: very cheap steps (a snapshot costs about as much as 20 steps
// of one particle, well under one step of 60; bench/core_archive.cpp) or a
// slow disk. Round numbers, so that snapshots fall on steps one can name;
// the interval only grows, so that the snapshots stay on its multiples.
class ArchiveCadence {
 public:
  static constexpr std::int64_t kLeast = 1000;
  static constexpr double kShare = 0.01;

  // `fixed` > 0: every `fixed` steps, whatever the times.
  explicit ArchiveCadence(std::int64_t fixed = 0) : fixed_(fixed) {}
  std::int64_t Every() const { return fixed_ > 0 ? fixed_ : every_; }
  bool Due(std::int64_t step) const { return step % Every() == 0; }
  // A snapshot took `snapshotNs`, after `steps` steps that took `stepsNs`.
  void Measured(double snapshotNs, double stepsNs, std::int64_t steps);

 private:
  std::int64_t fixed_;
  std::int64_t every_ = kLeast;
  double snapshotsNs_ = 0, stepsNs_ = 0;
  std::int64_t snapshots_ = 0, steps_ = 0;
};

struct Options {
  std::string in;
  std::string out;  // empty: nothing written
  std::int32_t steps = 0;
  StepOptions step;
  // Values that replace those of the file, by place in the parameter block.
  std::array<std::optional<Extended>, 11> set;
  std::string csv;         // empty: no table
  std::string xyz;         // empty: no trajectory
  std::int32_t every = 1;  // of the table's and the trajectory's steps
  std::string summary;     // empty: no summary row
  // The run archive: a new file, or with `resume` an existing one whose run
  // goes on from its last snapshot for `steps` further steps.
  std::string archive;
  // 0: as ArchiveCadence finds, or with `resume` at the interval of the
  // archive's snapshots (SnapshotSpacing)
  std::int32_t archiveEvery = 0;
  bool resume = false;
  // Where the run starts instead of `in`: a run archive, at the snapshot of
  // step `fromStep` (the last one without it). Or FILE.xyz or FILE.xyz@N,
  // a frame whose particles replace those of `in` (fromStep unused).
  std::string from;
  std::optional<std::int64_t> fromStep;
  ChoicesGiven given;
};

enum ExitStatus : int { kDone = 0, kUsage = 2, kFloatingPointFault = 3, kFileFault = 4 };

// What the run asks of its caller while it works.
struct Hooks {
  std::function<void(std::int32_t done)> stepDone;
  // The number of a signal that asks the run to stop, or 0. The run then
  // stops before its next step, or before its output is put in place, and
  // leaves every output path as it was.
  std::function<int()> stopSignal;
  // After each step, with the steps done: false ends the run there, its
  // outputs written as those of a run asked for that many steps.
  std::function<bool(std::int64_t done)> between;
};

struct Outcome {
  Outcome() = default;
  Outcome(int status_, std::string message_) : status(status_), message(std::move(message_)) {}
  int status = kDone;          // an ExitStatus, or 128 + the signal that stopped the run
  std::string message;         // for standard error; empty when done
  std::int64_t steps = 0;      // the steps taken
  std::string fault;           // the floating-point fault that ended the run, if one did
  std::int64_t faultStep = 0;  // the step that faulted
};

// Runs the command; `s` holds the final state afterwards. The table, the
// trajectory and the output file appear together, and only once complete;
// after a floating-point fault the table and the trajectory keep the steps up
// to the last good one and the output file is not written. The summary row is appended once the outputs are
// in place, also after a floating-point fault.
Outcome Run(const Options& o, SimState& s, const Hooks& hooks = {});

// One line per snapshot of a run archive: step, kinetic, potential and total
// energy (tab-separated, with the fault when the snapshot has one), then a
// line that says how many snapshots there are and what torn tail was
// found. Returns an ExitStatus; `message` gets the reason of a failure.
int ListArchive(const std::string& path, std::ostream& out, std::string& message);

// The 60 slots' positions or velocities, one line each, tab-separated.
void List(const SimState& s, ListKind kind, std::ostream& out);

// The columns of a summary row.
extern const char* const kSummaryHeader;

// The force choices in the words of the command line, for the windows that
// show them: "formula DUDI, sign gravoscope, kinds 30", then "drop-b" and
// "drop-cdf" when they are on.
std::string ForceChoicesText(const ForceOptions& f);

// Formats one value with 21 significant digits and a full stop, enough to
// give back every bit of an Extended.
std::string LosslessText(Extended v);

// The largest distance of a present particle from the particles' centre of
// mass (unit masses); 0 with no particle.
Extended LargestDistanceFromCentre(const RunState& s);

}  // namespace qd::batch
