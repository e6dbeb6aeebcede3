// The Simulation menu: each item sets the control it stands for and follows
// it, runs chosen from the menu are the batch runner's runs, and the keys
// select nothing the window does not show.
#include <QAbstractButton>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRadioButton>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "core/batch/batch_run.h"
#include "tests/core/dynamics_support.h"
#include "tests/ui/commands_fixture.h"

namespace qd {
namespace {

QString Plain(QString caption) { return caption.remove(QLatin1Char('&')); }

QMenu* Submenu(TMainForm& f, const QString& title) {
  for (QAction* a : f.Simulation1->actions())
    if (a->menu() && Plain(a->text()) == title) return a->menu();
  return nullptr;
}

// The item a user finds under Simulation ▸ `sub` ▸ `caption` (or directly
// under Simulation when `sub` is empty).
QAction* Item(TMainForm& f, const char* sub, const char* caption) {
  QMenu* menu = *sub ? Submenu(f, QString::fromUtf8(sub)) : f.Simulation1;
  if (!menu) return nullptr;
  for (QAction* a : menu->actions())
    if (!a->menu() && Plain(a->text()) == QString::fromUtf8(caption)) return a;
  return nullptr;
}

template <class T, std::size_t N>
std::string NameOf(const std::pair<const char*, T> (&names)[N], T value) {
  for (const auto& [name, v] : names)
    if (v == value) return name;
  return "?";
}

// The quindelle-run options of the run the window would step now.
std::string RunArguments(const StepOptions& o) {
  std::string args = "--formula " + NameOf(batch::kFormulaNames, o.force.formula) + " --sign " +
                     NameOf(batch::kSignNames, o.force.sign) + " --kinds " +
                     std::to_string(o.force.secondKindCount) + " --walls " + NameOf(batch::kWallNames, o.walls);
  for (const auto& [on, name] : {std::pair{o.force.dropB, " --drop-b"}, {o.force.dropCDF, " --drop-cdf"},
                                 {o.cooler, " --cooler"}, {o.heater, " --heater"}, {o.blockade, " --blockade"}})
    if (on) args += name;
  return args + ' ';
}

// Every item: where it is, the control it stands for, and the option the
// run then gets. Rows of one submenu are one exclusive group, but for
// "Drop terms" and the items directly under Simulation.
struct Row {
  const char* sub;
  const char* caption;
  const char* control;
  const char* argument;
};
const Row kRows[] = {
    {"Formula", "E", "Exponential", "--formula E "},
    {"Formula", "PE", "PolyExpon", "--formula PE "},
    {"Formula", "PES", "PolyExpSum", "--formula PES "},
    {"Formula", "DUDI", "ExpoPolyExpSum", "--formula DUDI "},
    {"Formula", "EPESminus", "EPESminus", "--formula EPESminus "},
    {"Sign", "Gravoscope", "Gravoscope", "--sign gravoscope "},
    {"Sign", "Taoscope", "Taoscope", "--sign taoscope "},
    {"Second kind", "30", "Ak", "--kinds 30 "},
    {"Second kind", "15", "Bk", "--kinds 15 "},
    {"Second kind", "10", "Ck", "--kinds 10 "},
    {"Walls", "none", "Thermosout", "--walls none "},
    {"Walls", "1.5", "Thermos3X3", "--walls 1.5 "},
    {"Walls", "10", "Thermos20X20", "--walls 10 "},
    {"Walls", "100", "ThermosNXN", "--walls 100 "},
    {"Drop terms", "drop-b", "CheckBox2", "--drop-b "},
    {"Drop terms", "drop-cdf", "CheckBox3", "--drop-cdf "},
    {"", "Cooler", "Cool", "--cooler "},
    {"", "Heater", "Warm", "--heater "},
    {"", "Blockade", "Blockade", "--blockade "},
};
bool Exclusive(const Row& r) { return *r.sub && std::string(r.sub) != "Drop terms"; }

// The controls that lie under others (or outside their page) in the designed window.
const std::set<std::string> kHidden = {"PolyExpon", "PolyExpSum",   "ExpoPolyExpSum", "CheckBox1",
                                       "CheckBox2", "Thermos3X3",   "Thermos20X20",   "ThermosNXN",
                                       "Taoscope",  "Bk",           "Ck"};

class SimulationMenu : public CommandsTest {
 protected:
  QAbstractButton* Control(const Row& r) { return form->findChild<QAbstractButton*>(QString::fromLatin1(r.control)); }
  // Runs `steps` steps and saves the result with Save As, as a user would.
  QByteArray RunAndSave(int steps) {
    EXPECT_EQ(RunFor(steps), steps);
    EXPECT_TRUE(dialogs.errors.empty());
    const QString path = Folder() + QStringLiteral("/window.pln");
    dialogs.saveAnswers.push_back(path);
    form->Saveas1Click();
    return ReadBytes(path);
  }
  // Every item's check mark is its control's state.
  void ExpectItemsFollowControls(const char* when) {
    for (const Row& r : kRows)
      EXPECT_EQ(Item(*form, r.sub, r.caption)->isChecked(), Control(r)->isChecked()) << when << ": " << r.caption;
  }
};

TEST_F(SimulationMenu, SitsAfterViewWithItsItemsInOrder) {
  TMainForm& f = Start();
  QStringList titles;
  for (QAction* a : f.MainMenu->actions())
    if (a->isVisible()) titles << Plain(a->text());
  EXPECT_EQ(titles, (QStringList{QStringLiteral("File"), QStringLiteral("View"), QStringLiteral("Simulation"),
                                 QStringLiteral("Help")}));
  // Alt+S opens it, and no other command of the window has that key.
  EXPECT_EQ(QKeySequence::mnemonic(f.Simulation1->title()), QKeySequence(Qt::ALT | Qt::Key_S));
  for (QAction* a : f.findChildren<QAction*>()) EXPECT_NE(a->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));

  QStringList top;
  for (QAction* a : f.Simulation1->actions())
    if (!a->isSeparator()) top << Plain(a->text());
  EXPECT_EQ(top, (QStringList{"Formula", "Sign", "Second kind", "Walls", "Drop terms", "Cooler", "Heater",
                              "Blockade"}));
  // Each submenu holds its rows, in the order of the table.
  std::map<std::string, QStringList> expected;
  for (const Row& r : kRows)
    if (*r.sub) expected[r.sub] << QString::fromUtf8(r.caption);
  for (const auto& [sub, captions] : expected) {
    QMenu* m = Submenu(f, QString::fromStdString(sub));
    ASSERT_NE(m, nullptr) << sub;
    QStringList shown;
    for (QAction* a : m->actions()) shown << Plain(a->text());
    EXPECT_EQ(shown, captions) << sub;
  }
  // At start-up: E, Gravoscope, 30 and no walls, nothing switched on.
  for (const Row& r : kRows) {
    QAction* item = Item(f, r.sub, r.caption);
    ASSERT_NE(item, nullptr) << r.caption;
    EXPECT_TRUE(item->isCheckable()) << r.caption;
  }
  ExpectItemsFollowControls("start-up");
  EXPECT_EQ(RunArguments(f.CurrentStepOptions()), "--formula E --sign gravoscope --kinds 30 --walls none ");
}

TEST_F(SimulationMenu, EveryItemSetsItsControlAndEveryControlMovesItsItem) {
  TMainForm& f = Start();
  for (const Row& r : kRows) {
    SCOPED_TRACE(std::string(r.sub) + " > " + r.caption);
    QAction* item = Item(f, r.sub, r.caption);
    QAbstractButton* control = Control(r);
    ASSERT_TRUE(item && control);

    // The menu sets the control, and the run reads the choice.
    item->trigger();
    EXPECT_TRUE(control->isChecked());
    EXPECT_TRUE(item->isChecked());
    EXPECT_NE(RunArguments(f.CurrentStepOptions()).find(r.argument), std::string::npos);
    ExpectItemsFollowControls("after the item");
    if (!Exclusive(r)) {
      item->trigger();
      EXPECT_FALSE(control->isChecked());
      EXPECT_FALSE(item->isChecked());
      EXPECT_EQ(RunArguments(f.CurrentStepOptions()).find(r.argument), std::string::npos);
    }
  }
  // The other way: a change of the control, by any means, moves the mark.
  for (const Row& r : kRows) {
    SCOPED_TRACE(std::string(r.sub) + " > " + r.caption);
    QAbstractButton* control = Control(r);
    if (Exclusive(r)) {
      control->setChecked(true);
    } else {
      control->setChecked(!control->isChecked());
    }
    ExpectItemsFollowControls("after the control");
  }
  // A click on a visible control, as the user makes it.
  QTest::mouseClick(f.EPESminus, Qt::LeftButton, {}, QPoint(6, 8));
  EXPECT_TRUE(Item(f, "Formula", "EPESminus")->isChecked());
  EXPECT_FALSE(Item(f, "Formula", "E")->isChecked());
  QTest::mouseClick(f.Cool, Qt::LeftButton, {}, QPoint(6, 8));
  ExpectItemsFollowControls("after clicks");
}

// What quindelle-run makes of `start` with `args`, saved as it saves.
QByteArray BatchRun(const QString& start, const QString& out, int steps, QStringList args) {
  args.prepend(QString::number(steps));
  args.prepend(QStringLiteral("--steps"));
  args.prepend(start);
  args << QStringLiteral("--out") << out;
  QProcess p;
  p.start(QStringLiteral(QUINDELLE_RUN), args);
  if (!p.waitForFinished(60000) || p.exitCode() != 0) {
    ADD_FAILURE() << "quindelle-run " << args.join(QLatin1Char(' ')).toStdString() << ": "
                  << p.readAllStandardError().toStdString();
    return {};
  }
  QFile f(out);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(SimulationMenu, BatchRunnersHelpUsesTheMenusNames) {
  TMainForm& f = Start();
  QProcess p;
  p.start(QStringLiteral(QUINDELLE_RUN), {QStringLiteral("--help")});
  ASSERT_TRUE(p.waitForFinished(20000));
  const QString help = QString::fromUtf8(p.readAllStandardOutput());
  for (const Row& r : kRows) {
    // Each word of the item's option: "--walls" and "1.5", "--cooler".
    for (const QString& word : QString::fromLatin1(r.argument).split(QLatin1Char(' '), Qt::SkipEmptyParts))
      EXPECT_TRUE(help.contains(word, Qt::CaseInsensitive)) << r.caption << ": " << word.toStdString();
  }
  for (QAction* a : f.Simulation1->actions()) {
    if (a->isSeparator()) continue;
    EXPECT_TRUE(help.contains(Plain(a->text()))) << Plain(a->text()).toStdString();
  }
}

// A cloud reaching past the 10 walls, with both kinds present, stored with
// a time step of its own.
SimState WallCloud() {
  SimState cloud = testing_support::RandomCloud(11, 30, 12);
  testing_support::SetKind(cloud, 1, 1, 2.718L, 5, 10, 20);
  testing_support::SetKind(cloud, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
  cloud.Dt = 0.01L;
  return cloud;
}

TEST_F(SimulationMenu, RunChosenFromTheMenuIsTheBatchRunnersRunBitForBit) {
  TMainForm& f = StartWith(TwoParticles());
  // Opened, the configuration keeps its own time step, as quindelle-run does.
  const QString cloud = WriteConfig(WallCloud(), QStringLiteral("cloud.pln"));
  dialogs.openAnswers.push_back(cloud);
  f.Open1Click();
  // What a user who knows only the menu does: formula, walls, cooler.
  for (const auto& [sub, caption] : {std::pair{"Formula", "DUDI"}, {"Walls", "10"}, {"", "Cooler"}})
    Item(f, sub, caption)->trigger();
  const int steps = 40;
  const QByteArray saved = RunAndSave(steps);
  const QString out = Folder() + QStringLiteral("/batch.pln");
  EXPECT_EQ(saved, BatchRun(cloud, out, steps, {"--formula", "DUDI", "--walls", "10", "--cooler"}));
  // Each of the three choices changes the run: the equality above is no accident.
  for (const QStringList& other : {QStringList{"--formula", "E", "--walls", "10", "--cooler"},
                                   QStringList{"--formula", "DUDI", "--walls", "100", "--cooler"},
                                   QStringList{"--formula", "DUDI", "--walls", "10"}})
    EXPECT_NE(saved, BatchRun(cloud, out, steps, other)) << other.join(QLatin1Char(' ')).toStdString();
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(SimulationMenu, FormulaChosenDuringARunActsFromTheNextStep) {
  SimState cloud = testing_support::RandomCloud(7, 40, 6);
  testing_support::SetKind(cloud, 1, 1, 2.718L, 5, 10, 20);
  testing_support::SetKind(cloud, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
  TMainForm& f = StartWith(cloud);
  SimState ref = state;
  RunFor(6, [&](int step) {
    // Between steps 2 and 3, as a click in the open menu arrives.
    if (step == 2) Item(f, "Formula", "DUDI")->trigger();
    if (step == 4) Item(f, "Walls", "1.5")->trigger();
  });
  StepOptions o;
  for (int n = 1; n <= 6; ++n) {
    if (n == 3) o.force.formula = Formula::DUDI;
    if (n == 5) o.walls = Walls::Thermos3X3;
    AdvanceStep(ref, o, n);
  }
  ExpectSameSlots(state, ref);
  EXPECT_TRUE(f.ExpoPolyExpSum->isChecked());
  EXPECT_TRUE(Item(f, "Formula", "DUDI")->isChecked());
}

TEST_F(SimulationMenu, KeysSelectNothingTheWindowDoesNotShow) {
  // From every control the keyboard can reach, three presses of each key:
  // the focus never lands on a hidden control, no hidden control changes,
  // and the menu's marks show what the run gets.
  TMainForm& f = StartShown();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  std::vector<QAbstractButton*> starts;
  for (QAbstractButton* b : f.centralWidget()->findChildren<QAbstractButton*>())
    if (b->isCheckable() && b->focusPolicy() != Qt::NoFocus) starts.push_back(b);
  ASSERT_GE(starts.size(), 8u);
  for (QAbstractButton* start : starts) {
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Tab, Qt::Key_Backtab}) {
      SCOPED_TRACE(start->objectName().toStdString() + " key " + QKeySequence(key).toString().toStdString());
      start->setFocus(Qt::MouseFocusReason);
      std::map<std::string, bool> hiddenBefore;
      for (const std::string& name : kHidden)
        hiddenBefore[name] = f.findChild<QAbstractButton*>(QString::fromStdString(name))->isChecked();
      for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), key);
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        EXPECT_EQ(kHidden.count(now->objectName().toStdString()), 0u) << now->objectName().toStdString();
        // Space changes the control that has the focus, if it is a choice.
        if (auto* b = qobject_cast<QAbstractButton*>(now); b && b->isCheckable()) QTest::keyClick(b, Qt::Key_Space);
      }
      for (const auto& [name, was] : hiddenBefore)
        EXPECT_EQ(f.findChild<QAbstractButton*>(QString::fromStdString(name))->isChecked(), was) << name;
      ExpectItemsFollowControls("after keys");
    }
  }
  // Down from E chooses the visible "False" below it, as a click would.
  f.Exponential->click();
  f.Exponential->setFocus();
  QTest::keyClick(f.Exponential, Qt::Key_Down);
  EXPECT_TRUE(f.EPESminus->isChecked());
  EXPECT_EQ(QApplication::focusWidget(), f.EPESminus);
  QTest::keyClick(f.EPESminus, Qt::Key_Up);
  EXPECT_TRUE(f.Exponential->isChecked());
}

TEST_F(SimulationMenu, UpOnTheWallButtonThenGoRunsWithoutWalls) {
  // The visible wall button clicked, Up pressed, Go, right after start-up:
  // the run is the one the window and the menu show, no walls, with the
  // time step start-up puts in force (0.001, whatever EditDT shows).
  startPath = WriteConfig(WallCloud(), QStringLiteral("start.pln"));
  WritePointer(startPath.toUtf8());
  TMainForm& f = StartShown();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QTest::mouseClick(f.Thermosout, Qt::LeftButton, {}, QPoint(6, 8));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
  EXPECT_TRUE(f.Thermosout->isChecked());
  EXPECT_TRUE(Item(f, "Walls", "none")->isChecked());
  const int steps = 30;
  const QByteArray saved = RunAndSave(steps);
  const QString out = Folder() + QStringLiteral("/batch.pln");
  EXPECT_EQ(saved, BatchRun(startPath, out, steps, {"--walls", "none", "--dt", "0.001"}));
  // Held against the file's own time step, it matches no wall setting.
  for (const char* walls : {"none", "1.5", "10", "100"})
    EXPECT_NE(saved, BatchRun(startPath, out, steps, {"--walls", walls})) << walls;
}

// The same window on screen: the menu bar's menu opened by a click and by
// Alt+S, its choices made with the mouse and the keys, and their check
// marks drawn. The suite runs it offscreen; ctest runs it once more under
// Xvfb with the real X platform.
using SimulationMenuOnScreen = SimulationMenu;

// The picture of each item's row of an open menu.
std::map<QString, QImage> Rows(QMenu* menu) {
  const QImage all = menu->grab().toImage();
  std::map<QString, QImage> rows;
  for (QAction* a : menu->actions()) rows[Plain(a->text())] = all.copy(menu->actionGeometry(a));
  return rows;
}

QMenu* OpenPopup() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

TEST_F(SimulationMenuOnScreen, OpensByMouseAndKeyboardAndShowsItsCheckMarks) {
  const QByteArray platform = qgetenv("QD_UI_TEST_PLATFORM");
  if (!platform.isEmpty()) {
    ASSERT_EQ(QGuiApplication::platformName(), QString::fromLatin1(platform));
  }
  TMainForm& f = StartShown();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QMenu* formula = Submenu(f, QStringLiteral("Formula"));
  QMenu* walls = Submenu(f, QStringLiteral("Walls"));

  // By mouse: Simulation, then Formula; rows as drawn with E chosen.
  auto openFormulaByMouse = [&] {
    QTest::mouseClick(f.MainMenu, Qt::LeftButton, {},
                      f.MainMenu->actionGeometry(f.Simulation1->menuAction()).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.Simulation1->isVisible(); }));
    QTest::mouseClick(f.Simulation1, Qt::LeftButton, {}, f.Simulation1->actionGeometry(formula->menuAction()).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return formula->isVisible(); }));
  };
  openFormulaByMouse();
  ASSERT_TRUE(formula->isVisible());
  const auto withE = Rows(formula);
  QTest::mouseClick(formula, Qt::LeftButton, {}, formula->actionGeometry(Item(f, "Formula", "DUDI")).center());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !f.Simulation1->isVisible(); }));
  EXPECT_TRUE(f.ExpoPolyExpSum->isChecked());
  EXPECT_FALSE(f.Exponential->isChecked());
  // Opened again the same way, only the rows of E and DUDI look different:
  // the check mark moved.
  openFormulaByMouse();
  const auto withDudi = Rows(formula);
  QTest::keyClick(formula, Qt::Key_Escape);
  QTest::keyClick(f.Simulation1, Qt::Key_Escape);
  for (const auto& [caption, row] : withE)
    EXPECT_EQ(row != withDudi.at(caption), caption == "E" || caption == "DUDI") << caption.toStdString();

  // By keyboard: Alt+S, W for Walls, down to 10, Return.
  auto openWallsByKeyboard = [&] {
    QTest::keyClick(&f, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return OpenPopup() == f.Simulation1; }));
    if (OpenPopup()) QTest::keyClick(OpenPopup(), Qt::Key_W);
    EXPECT_TRUE(QTest::qWaitFor([&] { return OpenPopup() == walls; }));
  };
  openWallsByKeyboard();
  ASSERT_EQ(OpenPopup(), walls);
  EXPECT_EQ(walls->activeAction(), Item(f, "Walls", "none"));
  const auto withoutWalls = Rows(walls);
  QTest::keyClick(walls, Qt::Key_Down);
  QTest::keyClick(walls, Qt::Key_Down);
  EXPECT_EQ(walls->activeAction(), Item(f, "Walls", "10"));
  QTest::keyClick(walls, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return OpenPopup() == nullptr; }));
  EXPECT_TRUE(f.Thermos20X20->isChecked());
  EXPECT_FALSE(f.Thermosout->isChecked());
  EXPECT_EQ(f.CurrentStepOptions().walls, Walls::Thermos20X20);
  openWallsByKeyboard();
  const auto with10 = Rows(walls);
  while (OpenPopup()) QTest::keyClick(OpenPopup(), Qt::Key_Escape);
  for (const auto& [caption, row] : withoutWalls)
    EXPECT_EQ(row != with10.at(caption), caption == "none" || caption == "10") << caption.toStdString();
  ExpectItemsFollowControls("on screen");
}

}  // namespace
}  // namespace qd
