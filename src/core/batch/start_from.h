#pragma once
// Where a batch run may take its particles from instead of its input
// configuration: the one place that tells the kinds of file apart, so that
// each kind adds its reader here.
#include <optional>
#include <string>

#include "core/state/sim_state.h"

namespace qd::batch {

// "FILE" or "FILE.xyz@N": the file and which of its frames (a whole number,
// negative counting from the end). A text that names an existing file is
// that file, '@' and all; the text after the last '@' of an XYZ file's name
// must be a whole number, else `problem` says so ("frame 'abc' is not a
// whole number").
struct StartPointer {
  std::string path;
  std::optional<long> index;
  bool xyz = false;     // an extended XYZ file's name (.xyz, .extxyz)
  std::string problem;  // empty, or what is wrong with the frame's number
};
StartPointer SplitStartPointer(const std::string& text);

// Replaces the particles of `s` (positions, velocities, presence, with the
// working and display copies) by those of the file `from` names; the
// parameters and everything else stay. An extended XYZ file (.xyz,
// .extxyz) gives frame N, by default its last, with the second kind's
// species in the last `secondKindCount` slots when it has no slot column.
// Throws FileError.
void InstallStartFrom(RunState& s, const std::string& from, int secondKindCount = 30);

}  // namespace qd::batch
