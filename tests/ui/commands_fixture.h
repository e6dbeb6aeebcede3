#pragma once
// Helpers for the tests of the run loop and the menu commands: small
// configurations, runs that stop themselves, and state comparisons.
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <functional>
#include <utility>

#include "core/dynamics/step.h"
#include "tests/ui/mainform_fixture.h"
#include "ui/mainform/form_widgets.h"

namespace qd {

// Slot 1 at the origin, slot 2 at (1, 0, 0), at rest; formula E with
// A1 = B1 = 1 and the other divisors 1 so that no parameter divides by zero.
inline SimState TwoParticles() {
  SimState c;
  c.TaonCount = kSlotCount;
  c.Dt = 0.001L;
  c.A1 = c.B1 = c.C1 = c.D1 = c.F1 = 1;
  c.A2 = c.B2 = c.C2 = c.D2 = c.F2 = 1;
  c.Present[1] = c.Present[2] = 1;
  c.X[2] = 1;
  return c;
}

// Positions and velocities of every slot, committed, working and display,
// equal value for value.
inline void ExpectSameSlots(const SimState& a, const SimState& b) {
  const std::pair<const char*, SlotArray<Extended> SimState::*> arrays[] = {
      {"X", &SimState::X},         {"Y", &SimState::Y},         {"Z", &SimState::Z},
      {"UX", &SimState::UX},       {"UY", &SimState::UY},       {"UZ", &SimState::UZ},
      {"XNew", &SimState::XNew},   {"YNew", &SimState::YNew},   {"ZNew", &SimState::ZNew},
      {"UXNew", &SimState::UXNew}, {"UYNew", &SimState::UYNew}, {"UZNew", &SimState::UZNew},
      {"ViewX", &SimState::ViewX}, {"ViewY", &SimState::ViewY}, {"ViewZ", &SimState::ViewZ}};
  for (int s = 1; s <= kSlotCount; ++s) {
    ASSERT_EQ(a.Present[s], b.Present[s]) << "slot " << s;
    for (const auto& [name, m] : arrays) ASSERT_EQ((a.*m)[s], (b.*m)[s]) << name << " of slot " << s;
  }
}

inline void ExpectSameParameters(const SimState& a, const SimState& b) {
  for (int i = 0; i < 11; ++i) EXPECT_EQ(a.*kParameterBlock[i], b.*kParameterBlock[i]) << "parameter " << i;
}

class CommandsTest : public MainFormTest {
 protected:
  // Starts the window with `config` as the start-up configuration.
  TMainForm& StartWith(const SimState& config, const QString& name = QStringLiteral("start.pln")) {
    startPath = WriteConfig(config, name);
    WritePointer(startPath.toUtf8());
    return Start();
  }

  // Presses Go; the run stops itself (as a second press of Go would) once
  // `steps` steps are done. `each` runs after every step, before the check.
  int RunFor(int steps, const std::function<void(int)>& each = {}) {
    int done = 0;
    form->AfterStep = [&] {
      ++done;
      if (each) each(done);
      if (done == steps && !state.Stopped) form->GoClick();
      // A run that does not stop must not hang the tests.
      if (done > steps + 1000) state.Stopped = true;
    };
    form->GoClick();
    form->AfterStep = nullptr;
    return done;
  }

  // The idle looks of Go, the lamps, Images and Null00.
  void ExpectIdle() {
    EXPECT_TRUE(state.Stopped);
    EXPECT_FALSE(form->RunActive());
    EXPECT_EQ(form->Go->text(), QStringLiteral("Go"));
    EXPECT_EQ(form->ShapeRed->brushColor(), QColor(128, 0, 0));
    EXPECT_EQ(form->ShapeLime->brushColor(), QColor(0, 255, 0));
    EXPECT_TRUE(form->Images->isEnabled());
    EXPECT_TRUE(form->Null00->isEnabled());
  }

  QString startPath;
};

}  // namespace qd
