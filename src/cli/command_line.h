#pragma once
// The command line of quindelle-run: its usage text, its options and the
// progress line; the run itself is qd::batch::Run.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/batch/batch_run.h"

namespace qd::cli {

extern const char* const kUsageText;

struct Command {
  batch::Options run;
  batch::ListKind list = batch::ListKind::None;
  bool progress = false;
  std::string listArchive;  // --list-archive: only list this archive
};

// Reads the arguments that follow the program name. Returns an empty string
// when they are usable, otherwise what is wrong with them.
std::string ParseArguments(const std::vector<std::string>& args, Command& c);

// What the command needs from its surroundings: standard output, standard
// error, whether standard error is a terminal, a clock in seconds and the
// signal that asks the run to stop (0 for none).
struct Console {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  std::function<double()> seconds;
  std::function<int()> stopSignal;
};

// "--help" prints the usage text; otherwise ParseArguments, then the run.
// Returns the exit status.
int Main(const std::vector<std::string>& args, Console& console);

}  // namespace qd::cli
