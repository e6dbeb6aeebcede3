#pragma once
// The steps of a batch run with the files it writes as it goes: the table,
// the trajectory, the archive, the result and the summary row. The command
// line's run and the Python module's run with outputs both come here, so
// that the two write the same bytes for the same steps.
#include <string>

#include "core/batch/batch_archive.h"
#include "core/batch/batch_run.h"
#include "core/run/run.h"

namespace qd::batch {

// No output may overwrite the input or another output: the names of the
// two that are one file, or empty.
std::string DistinctFiles(const Options& o);

// Runs `o.steps` steps of `run`, whose state and choices are where the run
// starts, with the outputs `o` names; `start` says the number of the first
// step and, for a resumed archive, its locked writer. `result` is the
// run's state when `o.out` is to be written. A run that hooks.between ends
// early writes its outputs as a run of the steps it took would.
Outcome RunOn(const Options& o, qd::Run& run, Start& start, const Hooks& hooks, SimState* result = nullptr);

}  // namespace qd::batch
