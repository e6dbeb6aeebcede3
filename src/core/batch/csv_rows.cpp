#include "core/batch/csv_rows.h"

#include <ostream>

#include "core/batch/batch_run.h"

namespace qd::batch {

const char* const kCsvHeader = "step,slot,x,y,z,ux,uy,uz,kinetic,potential,total\n";

void WriteCsvRows(std::ostream& out, const RunState& s, std::int32_t step, Extended kinetic,
                  Extended potential) {
  bool first = true;
  for (int k = 1; k <= kSlotCount; ++k) {
    if (s.Present[k] == 0) continue;
    out << step << ',' << k << ',' << LosslessText(s.X[k]) << ',' << LosslessText(s.Y[k]) << ','
        << LosslessText(s.Z[k]) << ',' << LosslessText(s.UX[k]) << ',' << LosslessText(s.UY[k]) << ','
        << LosslessText(s.UZ[k]);
    if (first) {
      out << ',' << LosslessText(kinetic) << ',' << LosslessText(potential) << ','
          << LosslessText(kinetic + potential) << '\n';
      first = false;
    } else {
      out << ",,,\n";
    }
  }
}

}  // namespace qd::batch
