#pragma once
// The simulation state in four parts: the run, the view, the window's
// switches and the document. Slot arrays have 61
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

// What a run computes and a snapshot of the run holds: everything the next
// time step reads or writes, and nothing else.
struct RunState {
  // Committed positions and velocities.
  SlotArray<Extended> X{}, Y{}, Z{}, UX{}, UY{}, UZ{};
  // Working copies, advanced during a time step. The walls change working
  // velocities after the commit, so the committed arrays alone would not
  // continue a run.
  SlotArray<Extended> XNew{}, YNew{}, ZNew{}, UXNew{}, UYNew{}, UZNew{};
  // Display coordinates the picture is drawn from; a step commits them.
  SlotArray<Extended> ViewX{}, ViewY{}, ViewZ{};
  // Presence flag: any non-zero byte means the slot holds a particle.
  SlotArray<std::uint8_t> Present{};

  // The parameter block, always handled in this order.
  Extended Dt = 0, A1 = 0, B1 = 0, C1 = 0, D1 = 0, F1 = 0, A2 = 0, B2 = 0, C2 = 0, D2 = 0, F2 = 0;

  std::int32_t TaonCount = 0;
  std::int32_t StepCount = 0;
};

// How the picture looks at the state: turned, zoomed and shifted.
struct ViewState {
  // Rotated coordinates, private to the particle drawing.
  SlotArray<Extended> RotX{}, RotY{}, RotZ{};
  // Window pixel of each slot's projected point.
  SlotArray<std::int32_t> ScreenX{}, ScreenY{};

  Extended Teta = 0, Psi = 0, Phi = 0;              // step angles
  Extended ViewTeta = 0, ViewPsi = 0, ViewPhi = 0;  // accumulated view angles
  std::array<Extended, 9> RotationMatrix{};         // row-major M11..M33
  std::int32_t CenterX = 0, CenterY = 0;
  Extended Scale = 0, ShiftX = 0, ShiftY = 0;
  Extended ShiftStep = 0, ZoomStep = 0, AngleStep = 0;
};

// The window's own switches.
struct WindowFlags {
  bool ImageMode = false;
  std::int32_t ImageKind = 0;
  bool Stopped = false;
  bool NumbersOn = false;
  bool SpinOn = false;
  bool ListVelocities = false;
  bool ShowStepCount = false;
  bool EditorVelocityMode = false;
};

// The configuration as a document: where it came from and its file image.
struct Document {
  std::string StartFileName;
  std::string CurrentName;
  bool CommentModified = false;
  // The one buffer configuration files are read into and written from.
  ConfigRecordBuffer ConfigRecord{};
};

// Everything the window works on, value-initialised to the process-start
// values (all zero, false or empty).
struct SimState : RunState, ViewState, WindowFlags, Document {};

// The parameter block as an array of pointers-to-member, in file order.
inline constexpr Extended RunState::*kParameterBlock[11] = {
    &RunState::Dt, &RunState::A1, &RunState::B1, &RunState::C1, &RunState::D1, &RunState::F1,
    &RunState::A2, &RunState::B2, &RunState::C2, &RunState::D2, &RunState::F2};

// The last slot a loop over the slots visits: TaonCount, but never past the
// end of the slot arrays.
inline int LastSlot(const RunState& s) { return s.TaonCount < kSlotCount ? s.TaonCount : kSlotCount; }

// Copies the committed position and velocity of slot s into the working and
// display copies.
void InstallSlot(RunState& s, int slot);

// InstallSlot for every slot 1..60.
void InstallAll(RunState& s);

// Number of slots whose presence byte is non-zero.
int CountPresent(const RunState& s);

}  // namespace qd
