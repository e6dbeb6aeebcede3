#pragma once
// quindelle-run: loads a configuration, runs the window's time step on it a
// given number of times without any window, and saves the result.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/common/extended.h"
#include "core/dynamics/options.h"

namespace qd::batch {

enum class ListKind { None, Positions, Velocities };

struct Options {
  std::string in;
  std::string out;  // empty: nothing written
  std::int32_t steps = -1;
  StepOptions step;
  bool hasDt = false;
  Extended dt = 0;
  ListKind list = ListKind::None;
  std::string csv;  // empty: no table
  std::int32_t every = 1;
  bool progress = false;
};

enum ExitStatus : int { kDone = 0, kUsage = 2, kFloatingPointFault = 3, kFileFault = 4 };

extern const char* const kUsageText;

// Reads the arguments that follow the program name. Returns an empty string
// when they are usable, otherwise what is wrong with them.
std::string ParseArguments(const std::vector<std::string>& args, Options& o);

// What the runner needs from its surroundings: standard output, standard
// error, whether standard error is a terminal, and a clock in seconds.
struct Console {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  std::function<double()> seconds;
};

// Runs a parsed command; returns the exit status.
int Run(const Options& o, Console& console);

// ParseArguments, then Run; "--help" prints the usage text and succeeds.
int Main(const std::vector<std::string>& args, Console& console);

// Formats one value with 21 significant digits and a full stop, enough to
// give back every bit of an Extended.
std::string LosslessText(Extended v);

}  // namespace qd::batch
