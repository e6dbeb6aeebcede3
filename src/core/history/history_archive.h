#pragma once
// A run's recorded history as a run archive and back: the window's
// "Save History…" and its opening of an archive, in the format of
// quindelle-run --archive.
#include <cstdint>
#include <string>
#include <vector>

#include "core/dynamics/options.h"
#include "core/history/run_history.h"
#include "core/persistence/run_archive.h"

namespace qd {

// Writes the snapshots of `h` as a run archive: each with its own force
// choices and the other choices of `options` (walls, cooler, heater,
// blockade), which the history does not record. The file is replaced only
// once complete (as every file the program writes). Throws FileError.
void SaveHistoryArchive(const RunHistory& h, const StepOptions& options, const std::string& path);

// What an archive read into a history brings besides the snapshots.
struct LoadedArchive {
  StepOptions options;  // those of its last snapshot, for the run to go on with
  std::string fault;    // the fault that ended the run after its last snapshot
  bool tornTail = false;
};

// The indices of the snapshots of an archive of `count` that a history with
// room for `room` keeps: all when they fit, else `room` of them spread evenly
// over the whole run, the first and the last among them.
std::vector<std::size_t> EvenPicks(std::size_t count, std::size_t room);

// Replaces the snapshots of `h` with those of the archive `r` has read from
// `path` (EvenPicks of them when they do not all fit), their energies
// computed under each one's force choices, and names the archive as their
// source. Throws FileError; `h` is then as it was.
LoadedArchive LoadHistoryArchive(const archive::Reader& r, const std::string& path, RunHistory& h,
                                 const PotentialFn& potential = {});

}  // namespace qd
