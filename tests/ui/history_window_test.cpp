// The "Run History" window over the main window's recording: opening it
// during a run, the chart with its gaps, going back to a snapshot, the
// exported table, and the commands that start a new history. Run archives:
// history_window_archive_test.cpp.
#include "ui/history/history_window.h"

#include <QAction>
#include <QChart>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QValueAxis>
#include <cmath>
#include <limits>
#include <memory>

#include "core/batch/batch_run.h"
#include "core/editing/number_text.h"
#include "core/persistence/xyz.h"
#include "tests/ui/history_fixture.h"
#include "ui/editing/edit_dlg.h"

namespace qd {
namespace {

TEST_F(HistoryWindow, OpensBesideARunningRunAndClosingKeepsTheRecording) {
  TMainForm& f = StartWith(WallCloud());
  THistoryWindow& w = Open(f);

  QElapsedTimer clock;
  std::int32_t closedAt = -1;
  const int done = RunFor(300, [&](int step) {
    if (step == 3) {
      clock.start();
      f.RunHistory1->trigger();
      EXPECT_TRUE(w.isVisible());
      EXPECT_FALSE(w.isModal());
      EXPECT_EQ(w.windowTitle(), QStringLiteral("Run History"));
      w.Refresh();
      EXPECT_FALSE(w.ContinueButton->isEnabled());
    }
    if (step == 150) {
      EXPECT_GE(w.ChartRebuilds(), 1);
      // At most ten redraws a second, whatever the step rate.
      EXPECT_LE(w.ChartRebuilds(), clock.elapsed() / THistoryWindow::kRefreshMs + 2);
      w.close();
      closedAt = state.StepCount;
    }
  });
  EXPECT_EQ(done, 300);
  EXPECT_FALSE(w.isVisible());
  const RunHistory& h = f.History();
  ASSERT_GE(h.Size(), 2u);
  EXPECT_EQ(h.At(0).State.StepCount, 0);
  EXPECT_GT(h.At(h.Size() - 1).State.StepCount, closedAt);
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(HistoryWindow, ContinuingFromASnapshotIsTheBatchRunOfAsManySteps) {
  TMainForm& f = StartWith(WallCloud());
  // Opened as the runner opens it: the file's time step in force.
  dialogs.openAnswers.push_back(startPath);
  f.Open1Click();
  THistoryWindow& w = Open(f);
  f.Thermos3X3->setChecked(true);
  f.Cool->setChecked(true);
  f.Blockade->setChecked(true);
  RunFor(140);
  w.show();
  w.Refresh();
  const RunHistory& h = f.History();
  ASSERT_GE(h.Size(), 3u);
  const std::size_t pick = h.Size() / 2;
  w.Timeline->setValue(int(pick));
  const std::int32_t from = h.At(pick).State.StepCount;
  ASSERT_GT(from, 0);
  EXPECT_EQ(w.StepLabel->text(), QStringLiteral("Step: %1").arg(QLocale::system().toString(from)));
  // The run's force choices, named as quindelle-run names them.
  EXPECT_TRUE(w.Values->text().endsWith(QStringLiteral("\nformula E, sign gravoscope, kinds 30")))
      << w.Values->text().toStdString();
  // The marker stands at the chosen step.
  ASSERT_EQ(w.Marker()->count(), 2);
  EXPECT_EQ(w.Marker()->at(0).x(), double(from));

  f.EditDT->setText(QStringLiteral("9"));  // the snapshot's parameters come back
  ASSERT_TRUE(w.ContinueButton->isEnabled());
  w.ContinueButton->click();
  EXPECT_EQ(state.StepCount, from);
  EXPECT_EQ(f.LTime->text(), QString::number(from));
  EXPECT_EQ(f.EditDT->text().toStdString(), FloatToText(0.01L, LocaleDecimalSeparator()));
  EXPECT_EQ(h.Size(), pick + 1);

  const int more = 23;
  RunFor(more);
  dialogs.saveAnswers.push_back(Folder() + QStringLiteral("/continued.pln"));
  f.Saveas1Click();
  // The batch runner's run of the same steps straight from the start.
  batch::Options straight;
  straight.in = startPath.toStdString();
  straight.steps = from + more;
  straight.step.walls = Walls::Thermos3X3;
  straight.step.cooler = true;
  straight.step.blockade = true;
  straight.out = (Folder() + QStringLiteral("/straight.pln")).toStdString();
  auto end = std::make_unique<SimState>();
  const batch::Outcome rc = batch::Run(straight, *end);
  ASSERT_EQ(rc.status, batch::kDone) << rc.message;
  EXPECT_EQ(ReadBytes(Folder() + QStringLiteral("/continued.pln")),
            ReadBytes(Folder() + QStringLiteral("/straight.pln")));
  EXPECT_TRUE(dialogs.errors.empty());
}

// Watched by the window while it ran, a run that stopped may be continued
// from: after Stop, after moving the slider, after a second run; and from
// the first snapshot, which goes back to the run's start.
TEST_F(HistoryWindow, ContinueComesOnWhenAWatchedRunStopsAndReachesTheFirstSnapshot) {
  TMainForm& f = StartWith(WallCloud());
  THistoryWindow& w = Open(f);
  f.RunHistory1->trigger();
  ASSERT_TRUE(w.isVisible());
  const RunState start = state;
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    RunFor(140, [&](int step) {
      if (step != 3) return;
      w.Refresh();
      EXPECT_FALSE(w.ContinueButton->isEnabled());
    });
    EXPECT_TRUE(w.ContinueButton->isEnabled());
    ASSERT_GE(f.History().Size(), 3u);
    w.Timeline->setValue(1);
    EXPECT_TRUE(w.ContinueButton->isEnabled());
  }
  w.Timeline->setValue(0);
  ASSERT_EQ(w.SelectedIndex(), 0);
  w.ContinueButton->click();
  EXPECT_EQ(state.StepCount, 0);
  EXPECT_EQ(f.LTime->text(), QStringLiteral("0"));
  EXPECT_EQ(f.History().Size(), 1u);
  EXPECT_EQ(state.X, start.X);
  EXPECT_EQ(state.UZ, start.UZ);
  EXPECT_TRUE(w.ContinueButton->isEnabled());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(HistoryWindow, ChartLeavesGapsWhereTheTotalIsNotFinite) {
  TMainForm& f = StartWith(TwoParticles());
  THistoryWindow& w = Open(f);
  RunHistory& h = f.History();
  const ForceOptions force;
  SimState s = state;
  const Extended inf = std::numeric_limits<Extended>::infinity();
  // Total: finite, finite, infinite, not a number, finite.
  const Extended speeds[] = {0, 0.5L, inf, inf, 1};
  for (int i = 0; i < 5; ++i) {
    s.StepCount = 10 * i;
    s.UX[1] = speeds[i];
    s.X[2] = i == 3 ? 0 : 1;  // two particles at one place: infinite potential
    s.Y[2] = i == 3 ? 0 : 0.5L;
    h.RunStarted(s, force);  // one snapshot each, whatever K would be
  }
  ASSERT_EQ(h.Size(), 5u);
  w.show();
  w.Refresh();

  const auto& total = w.Curve(THistoryWindow::kTotal);
  ASSERT_EQ(total.size(), 2u);
  ASSERT_EQ(total[0]->count(), 2);
  ASSERT_EQ(total[1]->count(), 1);
  EXPECT_EQ(total[1]->at(0).x(), 40.0);
  EXPECT_EQ(total[0]->at(1).y(), double(h.At(1).Kinetic + h.At(1).Potential));
  EXPECT_TRUE(w.Note->isVisibleTo(&w));
  EXPECT_TRUE(std::isfinite(w.AxisY()->min()) && std::isfinite(w.AxisY()->max()));
  // One legend entry per curve.
  int shown = 0;
  Settle();
  for (QLegendMarker* m : w.Chart->legend()->markers())
    if (m->isVisible()) ++shown;
  EXPECT_EQ(shown, 3);
}

TEST_F(HistoryWindow, StepAxisTicksAreWholeDistinctSteps) {
  TMainForm& f = StartWith(TwoParticles());
  THistoryWindow& w = Open(f);
  RunHistory& h = f.History();
  const std::vector<std::vector<std::int32_t>> histories = {{},     {0},     {0, 1},        {0, 2, 3},
                                                            {0, 6}, {5, 12}, {0, 100, 4316}};
  w.show();
  for (const auto& steps : histories) {
    SCOPED_TRACE(::testing::PrintToString(steps));
    h.Clear();
    SimState s = state;
    for (std::int32_t step : steps) {
      s.StepCount = step;
      h.RunStarted(s, ForceOptions{});
    }
    w.Refresh();
    const QValueAxis* x = w.AxisX();
    ASSERT_GE(x->tickCount(), 2);
    const double apart = (x->max() - x->min()) / (x->tickCount() - 1);
    EXPECT_GE(apart, 1.0);
    EXPECT_EQ(apart, std::round(apart));
    EXPECT_EQ(x->min(), std::round(x->min()));
    if (!steps.empty()) {
      EXPECT_LE(x->min(), steps.front());
      EXPECT_GE(x->max(), steps.back());
    }
  }
}

TEST(PlaceBeside, GoesWhereItCoversLeastOfTheOwnerAndStaysOnTheScreen) {
  const QSize size(640, 520);
  const struct {
    QRect owner, screen;
    QPoint expected;
  } cases[] = {
      {{658, 300, 604, 431}, {0, 0, 1920, 1080}, {1270, 300}},  // room on the right
      {{1200, 100, 604, 431}, {0, 0, 1920, 1080}, {552, 100}},  // only on the left
      {{338, 300, 604, 431}, {0, 0, 1280, 1024}, {640, 300}},   // neither: the roomier side's edge
      {{100, 300, 604, 431}, {0, 0, 1000, 1024}, {360, 300}},
      {{400, 900, 604, 431}, {0, 0, 1920, 1080}, {1012, 560}},  // kept above the bottom
      {{0, -50, 604, 431}, {1920, 0, 1280, 1024}, {1920, 0}},   // owner off this screen
      {{0, 0, 604, 431}, {0, 0, 500, 400}, {0, 0}},             // screen smaller than the window
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>{c.owner.x(), c.owner.y(), c.screen.width()}));
    const QPoint at = PlaceBeside(c.owner, size, c.screen);
    EXPECT_EQ(at.x(), c.expected.x());
    EXPECT_EQ(at.y(), c.expected.y());
  }
}

TEST_F(HistoryWindow, ExportWritesTheRunnersTableAndNeverOverTheConfiguration) {
  TMainForm& f = StartWith(WallCloud());
  THistoryWindow& w = Open(f);
  RunFor(12);
  w.Refresh();
  const QString csv = Folder() + QStringLiteral("/run.csv");
  dialogs.saveAnswers.push_back(csv);
  w.ExportButton->click();
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].defaultSuffix, QStringLiteral("csv"));
  EXPECT_EQ(ReadBytes(csv).toStdString(), HistoryCsv(f.History()));

  const QByteArray config = ReadBytes(startPath);
  dialogs.saveAnswers.push_back(startPath);
  dialogs.yesNoAnswers.push_back(true);  // "replace it?" Yes: still refused
  w.ExportButton->click();
  EXPECT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(ReadBytes(startPath), config);

  dialogs.saveAnswers.push_back(std::nullopt);
  w.ExportButton->click();
  EXPECT_EQ(dialogs.errors.size(), 1u);
}

// One frame per snapshot, each the snapshot to the last bit, in the walls'
// box; never over the configuration, nothing on Cancel.
TEST_F(HistoryWindow, ExportXyzWritesAFramePerSnapshot) {
  TMainForm& f = StartWith(WallCloud());
  f.Thermos3X3->setChecked(true);
  THistoryWindow& w = Open(f);
  EXPECT_FALSE(w.ExportXyzButton->isEnabled());
  RunFor(140);
  w.Refresh();
  ASSERT_TRUE(w.ExportXyzButton->isEnabled());
  const QString xyz = Folder() + QStringLiteral("/run.xyz");
  dialogs.saveAnswers.push_back(xyz);
  w.ExportXyzButton->click();
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].defaultSuffix, QStringLiteral("xyz"));
  const std::string text = ReadBytes(xyz).toStdString();
  EXPECT_NE(text.find("Origin=\"-1.5 -1.5 -1.5\""), std::string::npos);
  const std::vector<XyzFrame> frames = ParseXyz(text);
  const RunHistory& h = f.History();
  ASSERT_EQ(frames.size(), h.Size());
  ASSERT_GE(frames.size(), 2u);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const RunState& s = h.At(i).State;
    EXPECT_EQ(frames[i].step, s.StepCount);
    EXPECT_EQ(frames[i].Present, s.Present);
    for (int k = 1; k <= 14; ++k) EXPECT_TRUE(frames[i].X[k] == s.X[k] && frames[i].UZ[k] == s.UZ[k]) << i;
  }

  const QByteArray config = ReadBytes(startPath);
  dialogs.saveAnswers.push_back(startPath);
  dialogs.yesNoAnswers.push_back(true);  // "replace it?" Yes: still refused
  w.ExportXyzButton->click();
  EXPECT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(ReadBytes(startPath), config);
  dialogs.saveAnswers.push_back(std::nullopt);
  w.ExportXyzButton->click();
  EXPECT_EQ(dialogs.errors.size(), 1u);
}

TEST_F(HistoryWindow, InstallingAnotherStateStartsANewHistory) {
  const struct {
    const char* command;
    std::function<void(TMainForm&)> run;
  } commands[] = {
      {"Open",
       [this](TMainForm& f) {
         dialogs.openAnswers.push_back(startPath);
         f.Open1Click();
       }},
      {"New, OK",
       [this](TMainForm& f) {
         TEditDlg& editor = f.Editor();
         QTimer::singleShot(0, &editor, [this, &editor] {
           dialogs.saveAnswers.push_back(Folder() + QStringLiteral("/new.pln"));
           QTest::mouseClick(editor.OKBtn, Qt::LeftButton);
         });
         // A dialog that does not close must not hang the suite.
         QTimer::singleShot(5000, &editor, &QDialog::reject);
         f.New1Click();
       }},
      {"Taons", [](TMainForm& f) { f.Daons1Click(); }},
      {"zero velocity",
       [this](TMainForm& f) {
         dialogs.saveAnswers.push_back(std::nullopt);
         f.Null00Click();
       }},
      {"Spiral", [](TMainForm& f) { f.Spiral1Click(); }},
  };
  TMainForm& f = StartWith(TwoParticles());
  for (const auto& c : commands) {
    if (state.ImageMode) f.Daons1Click();
    RunFor(4);
    ASSERT_FALSE(f.History().Empty()) << c.command;
    c.run(f);
    EXPECT_TRUE(f.History().Empty()) << c.command;
  }
  EXPECT_TRUE(dialogs.errors.empty());
}

}  // namespace
}  // namespace qd
