#pragma once
// Trajectories in extended XYZ, the text format molecular viewers read: one
// frame per state, a line with the particle count, a line of key=value
// pairs, then one line per particle. The numbers carry 21 significant digits
// and a full stop whatever the locale, so that every bit of an Extended
// comes back and other tools read them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/dynamics/worker_pool.h"
#include "core/state/sim_state.h"

namespace qd {

// The kind (1 or 2) of a slot as the picture colours it: the last
// `secondKindCount` of the TaonCount slots are of kind 2.
int SlotKind(const RunState& s, int secondKindCount, int slot);

// The species column of a kind's particles. Viewers and ASE take the column
// as element symbols and refuse anything else, so the kinds go as "Cl"
// (kind 1) and "S" (kind 2), which viewers draw green and yellow like the
// program's picture.
const char* KindSpecies(int kind);

// Writes v with 21 significant digits and a full stop, as to_chars writes it
// in general format (at most 48 characters); returns the end. 21 digits give
// back every bit of the 64-bit significand.
char* LosslessChars(char* first, Extended v);

// Appends one frame of the present slots of `s` to `out`: positions,
// velocities, slot and kind per particle; the step count and the energies
// on the comment line, and with walls their box. With a pool and more than
// one thread, the threads share the writing of the lines; the text is the
// same.
void AppendXyzFrame(std::string& out, const RunState& s, const StepOptions& o, Extended kinetic,
                    Extended potential, WorkerPool* pool = nullptr, int threads = 1);

class RunHistory;

// Every snapshot of a run's history as a frame, with the energies it was
// recorded with; the walls give the box (snapshots do not hold them).
std::string HistoryXyz(const RunHistory& h, Walls walls);

// One frame as read back: the particles by slot, nothing else of the state.
struct XyzFrame {
  SlotArray<Extended> X{}, Y{}, Z{}, UX{}, UY{}, UZ{};
  SlotArray<std::uint8_t> Present{};
  int count = 0;
  bool hasVelocities = false;
  std::optional<std::int32_t> step;  // the frame's step=, when it has one
};

// Bounds on what a file may hold, far above what any frame of 60 particles
// needs: a line of at most 1 MiB, at most 64 name:type:columns triples in
// Properties, each of at most 1000 columns.
inline constexpr std::size_t kXyzMaxLineBytes = std::size_t{1} << 20;
inline constexpr int kXyzMaxProperties = 64;
inline constexpr long kXyzMaxColumnWidth = 1000;
// A message quotes at most this many characters of the text it refuses.
inline constexpr int kXyzQuoteChars = 60;

// `text` in single quotes for a message: at most kXyzQuoteChars characters,
// then "…"; control characters and bytes that are not UTF-8 become '?'.
std::string XyzQuote(std::string_view text);

// Every frame of an extended XYZ text (or a plain XYZ one: species and
// positions). Velocities come from a `velo` (or `velocities`) column; else
// from `momenta` divided by the `masses` column, or without one by the
// species' standard atomic mass, as tools of the ASE convention write
// them. Without a `slot` column the particles of the second kind's species
// (KindSpecies(2)) take the second kind's slots, the last
// `secondKindCount`, and the others the first kind's, in the file's order.
// Throws FileError naming the line and what is wrong with it.
std::vector<XyzFrame> ParseXyz(const std::string& text, int secondKindCount = 30);

// Frame `index` of the file (0 the first, -1 the last, as Python counts;
// none: the last), read by the rules of ParseXyz a piece at a time. Throws
// FileError for a file that cannot be read, is not a regular file, or holds
// no such or a damaged frame.
XyzFrame ReadXyzFrame(const std::string& path, std::optional<long> index = std::nullopt,
                      int secondKindCount = 30);

// Makes the frame's particles the state's: positions, velocities (0 where
// the frame has none) and presence of all 60 slots, with the working and
// display copies; the rest of the state stays.
void InstallXyzFrame(RunState& s, const XyzFrame& f);

// True when the file name ends in ".xyz" or ".extxyz" (any case).
bool IsXyzName(const std::string& path);

}  // namespace qd
