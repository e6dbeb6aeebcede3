#pragma once
// The table of `quindelle-run --csv`, shared with the window's run history.
#include <cstdint>
#include <iosfwd>

#include "core/common/extended.h"
#include "core/state/sim_state.h"

namespace qd::batch {

extern const char* const kCsvHeader;  // one line, newline included

// One row per present slot with its committed position and velocity; the
// first row also carries the energies and their sum.
void WriteCsvRows(std::ostream& out, const RunState& s, std::int32_t step, Extended kinetic,
                  Extended potential);

}  // namespace qd::batch
