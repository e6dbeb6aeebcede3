#include "ui/view/listing.h"

#include "ui/view/string_grid.h"

namespace qd {

void FillListing(StringGrid&, const SimState&, char) {}

}  // namespace qd
