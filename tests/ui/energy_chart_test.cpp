// The Run History chart after a blow-up: round ticks that read "0" at zero,
// the symmetric-log axis, zooming and its reset, Kinetic above Total, and
// the small picture's dots.
#include "ui/history/energy_chart.h"

#include <QCategoryAxis>
#include <QChart>
#include <QCheckBox>
#include <QImage>
#include <QLineSeries>
#include <QPushButton>
#include <cmath>
#include <memory>

#include "tests/ui/commands_fixture.h"
#include "ui/history/history_window.h"

namespace qd {
namespace {

TEST(EnergyAxis, LinearTicksAreRoundAndShareOneFormat) {
  const struct {
    double low, high;
  } ranges[] = {{-5e71, 5e71}, {0, 1}, {-0.003, 0.012}, {12345, 98765}, {1e-9, 5e-9}, {-7.5, -2.25}};
  for (const auto& r : ranges) {
    SCOPED_TRACE(::testing::Message() << r.low << " .. " << r.high);
    const std::vector<AxisTick> ticks = LinearTicks(r.low, r.high);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_LE(ticks.size(), 8u);
    const double step = ticks[1].value - ticks[0].value;
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 || std::fabs(mantissa - 5) < 1e-9)
        << mantissa;
    int scientific = 0;
    for (const AxisTick& t : ticks) {
      EXPECT_GE(t.value, r.low);
      EXPECT_LE(t.value, r.high);
      // On the step's grid, and the label reads the value.
      EXPECT_NEAR(t.value / step, std::round(t.value / step), 1e-9);
      EXPECT_NEAR(t.label.toDouble(), t.value, std::fabs(step) * 1e-6) << t.label.toStdString();
      if (t.value == 0) {
        EXPECT_EQ(t.label, QStringLiteral("0"));
      } else {
        scientific += t.label.contains(QLatin1Char('e'));
      }
    }
    const int nonZero = int(std::count_if(ticks.begin(), ticks.end(), [](const AxisTick& t) { return t.value != 0; }));
    EXPECT_TRUE(scientific == 0 || scientific == nonZero);
    if (r.low < 0 && r.high > 0) {
      EXPECT_TRUE(std::any_of(ticks.begin(), ticks.end(), [](const AxisTick& t) { return t.label == "0"; }));
    }
  }
}

TEST(EnergyAxis, SymLogKeepsSignAndOrderAndItsTicksNameTheirEnergies) {
  for (double v : {0.0, 1e-12, 0.5, 1.0, 7.0, 1e10, 5e71}) {
    EXPECT_EQ(SymLog(-v), -SymLog(v)) << v;
    EXPECT_NEAR(SymLogInverse(SymLog(v)), v, std::max(1e-12, v * 1e-12)) << v;
    EXPECT_LT(SymLog(v), SymLog(v * 2 + 1)) << v;
  }
  const std::vector<AxisTick> ticks = SymLogTicks(SymLog(-5e71), SymLog(5e71));
  ASSERT_GE(ticks.size(), 3u);
  EXPECT_LE(ticks.size(), 11u);
  EXPECT_TRUE(std::any_of(ticks.begin(), ticks.end(), [](const AxisTick& t) { return t.label == "0"; }));
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    const double energy = ticks[i].label.toDouble();
    EXPECT_DOUBLE_EQ(SymLog(energy), ticks[i].value) << ticks[i].label.toStdString();
    if (i > 0) {
      EXPECT_LT(ticks[i - 1].value, ticks[i].value);
    }
  }
}

TEST(EnergyAxis, ThickenedDotsSurviveHalfSize) {
  QImage image(20, 10, QImage::Format_RGB32);
  image.fill(Qt::black);
  image.setPixel(5, 5, qRgb(0, 255, 0));
  const QImage thick = Thickened(image);
  int lit = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) lit += thick.pixel(x, y) == qRgb(0, 255, 0);
  EXPECT_EQ(lit, 9);
}

class EnergyChart : public CommandsTest {
 protected:
  // A history whose energies blow up to about 1e71, as after a collision.
  THistoryWindow& BlowUp() {
    StartWith(TwoParticles());
    window = std::make_unique<THistoryWindow>(form->CurrentRun(), *form);
    RunHistory& h = form->History();
    SimState s = state;
    const ForceOptions force = form->CurrentStepOptions().force;
    for (int i = 0; i < 6; ++i) {
      s.StepCount = 10 * i;
      s.UX[1] = i < 3 ? Extended(0.1L * i) : Extended(1e35L) * i;
      h.RunStarted(s, force);
    }
    window->show();
    window->Refresh();
    return *window;
  }
  void TearDown() override {
    window.reset();
    CommandsTest::TearDown();
  }
  std::unique_ptr<THistoryWindow> window;
};

TEST_F(EnergyChart, KineticIsDrawnAboveTotal) {
  THistoryWindow& w = BlowUp();
  const QList<QAbstractSeries*> order = w.Chart->series();
  EXPECT_GT(order.indexOf(w.Curve(THistoryWindow::kKinetic).front()),
            order.indexOf(w.Curve(THistoryWindow::kTotal).back()));
  EXPECT_GT(w.Curve(THistoryWindow::kTotal).front()->pen().widthF(),
            w.Curve(THistoryWindow::kKinetic).front()->pen().widthF());
}

TEST_F(EnergyChart, LogarithmicAxisAndZoomWithReset) {
  THistoryWindow& w = BlowUp();
  // Linear: a tick at zero that reads "0".
  EXPECT_TRUE(w.EnergyAxis()->categoriesLabels().contains(QStringLiteral("0")))
      << w.EnergyAxis()->categoriesLabels().join(QLatin1Char(' ')).toStdString();
  const double linearHigh = w.AxisY()->max();
  EXPECT_GT(linearHigh, 1e70);

  w.LogScale->setChecked(true);
  QLineSeries* kinetic = w.Curve(THistoryWindow::kKinetic).front();
  ASSERT_GE(kinetic->count(), 6);
  const Extended last = form->History().At(5).Kinetic;
  EXPECT_DOUBLE_EQ(kinetic->at(kinetic->count() - 1).y(), SymLog(double(last)));
  EXPECT_LE(w.AxisY()->max(), 80);
  // The small energies before the blow-up are apart from zero now.
  EXPECT_GT(kinetic->at(2).y() - kinetic->at(1).y(), 0.001);
  const QStringList logLabels = w.EnergyAxis()->categoriesLabels();
  EXPECT_TRUE(logLabels.contains(QStringLiteral("0")));
  EXPECT_TRUE(std::any_of(logLabels.begin(), logLabels.end(), [](const QString& l) { return l.contains("e+"); }));

  // A rectangle dragged over the lower half zooms there, and the run's
  // new snapshots leave it so until Reset Zoom.
  const QRectF plot = w.Chart->plotArea();
  w.Chart->zoomIn(QRectF(plot.left(), plot.center().y(), plot.width(), plot.height() / 2));
  EXPECT_TRUE(w.Zoomed());
  EXPECT_TRUE(w.ResetZoomButton->isEnabled());
  const double zoomedHigh = w.AxisY()->max();
  EXPECT_LT(zoomedHigh, 50);
  SimState s = state;
  s.StepCount = 70;
  s.UX[1] = 1e60L;
  form->History().RunStarted(s, form->CurrentStepOptions().force);
  w.Refresh();
  EXPECT_EQ(w.AxisY()->max(), zoomedHigh);
  w.ResetZoomButton->click();
  EXPECT_FALSE(w.Zoomed());
  EXPECT_GT(w.AxisY()->max(), 100);
}

}  // namespace
}  // namespace qd
