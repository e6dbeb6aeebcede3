#pragma once
#include "core/state/sim_state.h"

namespace qd {

class StringGrid;

// Rewrites the listing from the committed positions (or velocities when
// s.ListVelocities) of every slot; empty slots get empty value cells.
void FillListing(StringGrid& grid, const SimState& s, char separator);

}  // namespace qd
