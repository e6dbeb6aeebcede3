#include "core/state/sim_state.h"

namespace qd {

void InstallSlot(RunState& s, int slot) {
  s.XNew[slot] = s.X[slot];
  s.YNew[slot] = s.Y[slot];
  s.ZNew[slot] = s.Z[slot];
  s.UXNew[slot] = s.UX[slot];
  s.UYNew[slot] = s.UY[slot];
  s.UZNew[slot] = s.UZ[slot];
  s.ViewX[slot] = s.X[slot];
  s.ViewY[slot] = s.Y[slot];
  s.ViewZ[slot] = s.Z[slot];
}

void InstallAll(RunState& s) {
  for (int slot = 1; slot <= kSlotCount; ++slot) InstallSlot(s, slot);
}

int CountPresent(const RunState& s) {
  int n = 0;
  for (int slot = 1; slot <= kSlotCount; ++slot) n += s.Present[slot] != 0;
  return n;
}

}  // namespace qd
