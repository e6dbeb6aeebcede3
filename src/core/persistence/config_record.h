#pragma once
// The configuration record: 3776 bytes, the whole file format.
#include <cstddef>
#include <string>

#include "core/state/sim_state.h"

namespace qd {

namespace record {
inline constexpr std::size_t kParams = 0;  // 11 x 10 bytes: Dt, A1..F1, A2..F2
inline constexpr std::size_t kX = 112;
inline constexpr std::size_t kY = 712;
inline constexpr std::size_t kZ = 1312;
inline constexpr std::size_t kUX = 1912;
inline constexpr std::size_t kUY = 2512;
inline constexpr std::size_t kUZ = 3112;
inline constexpr std::size_t kPresent = 3712;
}  // namespace record

// State -> s.ConfigRecord (committed arrays only; padding never written).
void FillConfigRecord(SimState& s);
// s.ConfigRecord -> state, then the working and display copies of all 60 slots.
void ApplyConfigRecord(SimState& s);
// The one rule for "can this path be loaded as a configuration", used by
// every load: it must open, without waiting, as a regular file or a symbolic
// link to one. Never throws.
bool CanLoadConfiguration(const std::string& path);
// Reads the first record of the file into s.ConfigRecord. A path that
// CanLoadConfiguration refuses fails at once ("File access denied" for
// anything but a missing or badly named file). Throws FileError.
void ReadConfigFile(SimState& s, const std::string& path);
// Writes s.ConfigRecord as the file's only record. Throws FileError.
void WriteConfigFile(const SimState& s, const std::string& path);

}  // namespace qd
