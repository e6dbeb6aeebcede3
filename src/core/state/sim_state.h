#pragma once
// The whole simulation state: one plain struct, value-initialised to the
// process-start values (all zero, false or empty). Slot arrays have 61
// elements so that slots are indexed 1..60 exactly as the user numbers them;
// element 0 is never used.
#include <array>
#include <cstdint>
#include <string>

#include "core/common/extended.h"

namespace qd {

inline constexpr int kSlotCount = 60;
inline constexpr std::size_t kConfigRecordSize = 3776;

template <class T>
using SlotArray = std::array<T, kSlotCount + 1>;

using ConfigRecordBuffer = std::array<std::uint8_t, kConfigRecordSize>;

struct SimState {
  // Committed positions and velocities.
  SlotArray<Extended> X{}, Y{}, Z{}, UX{}, UY{}, UZ{};
  // Working copies, advanced during a time step.
  SlotArray<Extended> XNew{}, YNew{}, ZNew{}, UXNew{}, UYNew{}, UZNew{};
  // Display coordinates the picture is drawn from.
  SlotArray<Extended> ViewX{}, ViewY{}, ViewZ{};
  // Rotated coordinates, private to the particle drawing.
  SlotArray<Extended> RotX{}, RotY{}, RotZ{};
  // Presence flag: any non-zero byte means the slot holds a particle.
  SlotArray<std::uint8_t> Present{};
  // Window pixel of each slot's projected point.
  SlotArray<std::int32_t> ScreenX{}, ScreenY{};

  // The parameter block, always handled in this order.
  Extended Dt = 0, A1 = 0, B1 = 0, C1 = 0, D1 = 0, F1 = 0, A2 = 0, B2 = 0, C2 = 0, D2 = 0, F2 = 0;

  std::int32_t TaonCount = 0;
  bool ImageMode = false;
  std::int32_t ImageKind = 0;
  bool Stopped = false;
  std::int32_t StepCount = 0;

  // View state.
  Extended Teta = 0, Psi = 0, Phi = 0;              // step angles
  Extended ViewTeta = 0, ViewPsi = 0, ViewPhi = 0;  // accumulated view angles
  std::array<Extended, 9> RotationMatrix{};         // row-major M11..M33
  std::int32_t CenterX = 0, CenterY = 0;
  Extended Scale = 0, ShiftX = 0, ShiftY = 0;
  Extended ShiftStep = 0, ZoomStep = 0, AngleStep = 0;

  // Display and editing flags.
  bool NumbersOn = false;
  bool SpinOn = false;
  bool ListVelocities = false;
  bool ShowStepCount = false;
  bool CommentModified = false;
  bool EditorVelocityMode = false;

  // Names.
  std::string StartFileName;
  std::string CurrentName;

  // The one buffer configuration files are read into and written from.
  ConfigRecordBuffer ConfigRecord{};
};

// The parameter block as an array of pointers-to-member, in file order.
inline constexpr Extended SimState::*kParameterBlock[11] = {
    &SimState::Dt, &SimState::A1, &SimState::B1, &SimState::C1, &SimState::D1, &SimState::F1,
    &SimState::A2, &SimState::B2, &SimState::C2, &SimState::D2, &SimState::F2};

// The last slot a loop over the slots visits: TaonCount, but never past the
// end of the slot arrays.
inline int LastSlot(const SimState& s) { return s.TaonCount < kSlotCount ? s.TaonCount : kSlotCount; }

// Copies the committed position and velocity of slot s into the working and
// display copies.
void InstallSlot(SimState& s, int slot);

// InstallSlot for every slot 1..60.
void InstallAll(SimState& s);

// Number of slots whose presence byte is non-zero.
int CountPresent(const SimState& s);

}  // namespace qd
