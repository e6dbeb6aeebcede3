#pragma once
// Where a batch run may take its particles from instead of its input
// configuration: the one place that tells the kinds of file apart, so that
// each kind adds its reader here.
#include <optional>
#include <string>

#include "core/state/sim_state.h"

namespace qd::batch {

// "FILE" or "FILE@N": the file and, when the text after the last '@' is a
// whole number (negative counts from the end), which of its states.
struct StartPointer {
  std::string path;
  std::optional<long> index;
};
StartPointer SplitStartPointer(const std::string& text);

// Replaces the particles of `s` (positions, velocities, presence, with the
// working and display copies) by those of the file `from` names; the
// parameters and everything else stay. An extended XYZ file (.xyz,
// .extxyz) gives frame N, by default its last. Throws FileError.
void InstallStartFrom(RunState& s, const std::string& from);

}  // namespace qd::batch
