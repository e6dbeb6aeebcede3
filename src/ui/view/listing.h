#pragma once
#include "core/state/sim_state.h"

namespace qd {

class StringGrid;

// Rewrites the listing from the committed positions (or velocities when
// s.ListVelocities) of every slot; empty slots get empty value cells.
void FillListing(StringGrid& grid, const SimState& s, char separator);

// The listing's designed look on a 4 x 61 grid: columns 80 wide, rows 18
// high, the first slot row 20 high.
void SetUpListingGrid(StringGrid& grid);

}  // namespace qd
