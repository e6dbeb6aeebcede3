// The designed window: geometry, stacks, exclusive groups, menus and the
// choices the core reads from the controls.
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include "tests/ui/mainform_fixture.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using MainFormLayout = MainFormTest;

TEST_F(MainFormLayout, WindowHasDesignedSizeCaptionAndFont) {
  TMainForm& f = Start();
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Quindelle"));
  EXPECT_EQ(f.objectName(), QStringLiteral("MainForm"));
  EXPECT_EQ(f.OuterWidth(), 604);
  EXPECT_EQ(f.font().pixelSize(), 11);
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  EXPECT_EQ(f.centralWidget()->size(), QSize(596, 377));
  EXPECT_EQ(f.height(), f.menuBar()->height() + 377);
  EXPECT_EQ(f.Pan->geometry(), QRect(0, 176, 596, 201));
  EXPECT_EQ(f.Canvas->geometry(), QRect(0, 0, 596, 176));
  EXPECT_EQ(f.Panel1->geometry(), QRect(362, 1, 231, 200));
  EXPECT_FALSE(f.Bevel->isVisible());
  EXPECT_EQ(f.Bevel->geometry(), QRect(0, 0, 4, 4));
  // The listing's own grid: the first slot row is higher than the others.
  EXPECT_EQ(f.DaonsTable->rowHeight(0), 18);
  EXPECT_EQ(f.DaonsTable->rowHeight(1), 20);
  EXPECT_EQ(f.DaonsTable->rowHeight(2), 18);
}

TEST_F(MainFormLayout, ControlsCarryTheirNamesAndDesignedPlaces) {
  TMainForm& f = Start();
  struct Expect {
    QWidget* w;
    const char* name;
    QRect rect;
  };
  const Expect expected[] = {
      {f.Blockade, "Blockade", {0, 0, 217, 17}},
      {f.Thermosout, "Thermosout", {0, 16, 57, 17}},
      {f.FName, "FName", {0, 176, 353, 21}},
      {f.PageControl, "PageControl", {2, 8, 359, 169}},
      {f.Gravoscope, "Gravoscope", {120, 0, 225, 25}},
      {f.Taoscope, "Taoscope", {120, 0, 105, 17}},
      {f.DaonsTable, "DaonsTable", {0, 6, 349, 99}},
      {f.Ak, "Ak", {8, 120, 17, 17}},
      {f.Comment, "Comment", {0, 0, 341, 123}},
      {f.DaoTeta, "DaoTeta", {44, 131, 23, 22}},
      {f.DaoForvard, "DaoForvard", {4, 179, 37, 22}},
      {f.DaoBack, "DaoBack", {4, 131, 37, 22}},
      {f.Null00, "Null00", {72, 112, 41, 15}},
      {f.TrackBar, "TrackBar", {144, 120, 81, 33}},
      {f.Go, "Go", {91, 176, 54, 25}},
      {f.EditDT, "EditDT", {16, 112, 57, 21}},
      {f.EPESminus, "EPESminus", {32, 32, 49, 17}},
      {f.Cool, "Cool", {152, 184, 65, 17}},
      {f.ShapeRed, "ShapeRed", {110, 129, 19, 21}},
      {f.CheckBox2, "CheckBox2", {32, 49, 49, 16}},
  };
  for (const Expect& e : expected) {
    ASSERT_NE(e.w, nullptr) << e.name;
    EXPECT_EQ(e.w->objectName(), QString::fromLatin1(e.name));
    EXPECT_EQ(e.w->geometry(), e.rect) << e.name;
    EXPECT_EQ(f.findChild<QWidget*>(QString::fromLatin1(e.name)), e.w) << e.name;
  }
  EXPECT_EQ(f.LTime->pos(), QPoint(40, 96));
  EXPECT_EQ(f.LTime->text(), QStringLiteral("0"));
  EXPECT_EQ(f.Label1->text(), QStringLiteral("Time:"));
  EXPECT_EQ(f.Blockade->text(), QStringLiteral("* Blockade  X, Y, Z in positions - 1 -:- 4 *"));
  EXPECT_EQ(f.PageControl->tabText(0), QStringLiteral("Listing"));
  EXPECT_EQ(f.PageControl->tabText(1), QStringLiteral("Commentary"));
  EXPECT_EQ(f.PageControl->currentWidget(), f.TabSheet1);
  EXPECT_EQ(f.DaonsTable->columnCount(), 4);
  EXPECT_EQ(f.DaonsTable->rowCount(), 61);
  EXPECT_EQ(f.TrackBar->minimum(), 0);
  EXPECT_EQ(f.TrackBar->maximum(), 10);
  EXPECT_EQ(f.TrackBar->value(), 5);
  EXPECT_EQ(f.TrackBar->toolTip(), QStringLiteral("Amplitude"));
  EXPECT_EQ(f.Null00->toolTip(), QStringLiteral("Make null of velocity"));
  EXPECT_EQ(f.Gravoscope->font().pixelSize(), 19);
  EXPECT_TRUE(f.Gravoscope->font().bold());
  EXPECT_EQ(f.Edit7->text(), QStringLiteral("1  -:- 30"));
  EXPECT_EQ(f.Edit8->text(), QStringLiteral("31 -:- 60"));
  EXPECT_EQ(f.EditA1->palette().color(QPalette::Base), QColor(0, 255, 0));
  EXPECT_EQ(f.EditF2->palette().color(QPalette::Base), QColor(255, 255, 0));
  EXPECT_EQ(f.ShapeLime->brushColor(), QColor(0, 255, 0));
  EXPECT_EQ(f.ShapeRed->brushColor(), QColor(128, 0, 0));
  EXPECT_EQ(f.Timer->interval(), 300);
  EXPECT_TRUE(f.Timer->isActive());
}

TEST_F(MainFormLayout, StacksShowAndClickOnlyTheirTopControl) {
  TMainForm& f = StartShown();
  // Each stack's designed top-left corner.
  EXPECT_EQ(f.Panel1->childAt(32, 32), f.EPESminus);
  // The formula buttons above reach down to row 48, over the check boxes' top row.
  EXPECT_EQ(f.Panel1->childAt(32, 48), f.EPESminus);
  EXPECT_EQ(f.Panel1->childAt(32, 49), f.CheckBox3);
  EXPECT_EQ(f.Panel1->childAt(80, 64), f.CheckBox3);  // CheckBox2 ends a row earlier
  EXPECT_EQ(f.Panel1->childAt(136, 48), f.EditF1);
  EXPECT_EQ(f.Panel1->childAt(192, 48), f.EditF2);
  EXPECT_EQ(f.Pan->childAt(120, 0), f.Gravoscope);
  EXPECT_EQ(f.Pan->childAt(224, 16), f.Gravoscope);  // all of Taoscope lies under it
  EXPECT_EQ(f.centralWidget()->childAt(0, 16), f.Thermosout);
  EXPECT_EQ(f.centralWidget()->childAt(300, 100), f.Canvas);

  // A click at the place of "PE" selects the formula captioned "False".
  QTest::mouseClick(f.Panel1->childAt(32, 32), Qt::LeftButton, {}, QPoint(6, 8));
  EXPECT_TRUE(f.EPESminus->isChecked());
  EXPECT_EQ(f.EPESminus->text(), QStringLiteral("False"));
  EXPECT_FALSE(f.Exponential->isChecked());
  EXPECT_EQ(f.CurrentStepOptions().force.formula, Formula::EPESminus);

  // The window's own widget lookup agrees.
  const QPoint global = f.Panel1->mapToGlobal(QPoint(137, 49));
  QWidget* top = QApplication::widgetAt(global);
  if (top) {
    EXPECT_EQ(top, f.EditF1);
  }
}

TEST_F(MainFormLayout, BkAndCkLieAllButOnePixelOutsideThePage) {
  TMainForm& f = StartShown();
  const QRect page = f.TabSheet1->rect();
  for (QRadioButton* b : {f.Bk, f.Ck}) {
    const QRect inside = b->geometry().intersected(page);
    EXPECT_LE(inside.width(), 1) << b->objectName().toStdString();
    // A click on that column goes through the window like a user's click,
    // and must not choose the button.
    const QPoint column = b->mapTo(&f, QPoint(b->width() - 1, b->height() / 2));
    EXPECT_NE(f.TabSheet1->childAt(b->mapTo(f.TabSheet1, QPoint(b->width() - 1, 8))), b);
    QTest::mouseClick(f.windowHandle(), Qt::LeftButton, {}, column);
    QApplication::processEvents();
    EXPECT_TRUE(f.Ak->isChecked()) << b->objectName().toStdString();
    EXPECT_EQ(f.SecondKindCount(), 30);
  }
  // They stay reachable without the mouse.
  f.Ck->setChecked(true);
  EXPECT_EQ(f.SecondKindCount(), 10);
}

TEST_F(MainFormLayout, RadioButtonsAreExclusiveWithinTheirOwnGroupOnly) {
  TMainForm& f = Start();
  EXPECT_TRUE(f.Exponential->isChecked());
  EXPECT_TRUE(f.Gravoscope->isChecked());
  EXPECT_TRUE(f.Thermosout->isChecked());
  EXPECT_TRUE(f.Ak->isChecked());

  f.PolyExpSum->click();
  f.Taoscope->click();
  f.Thermos20X20->click();
  f.Ck->click();
  EXPECT_FALSE(f.Exponential->isChecked());
  EXPECT_FALSE(f.Gravoscope->isChecked());
  EXPECT_FALSE(f.Thermosout->isChecked());
  EXPECT_FALSE(f.Ak->isChecked());
  EXPECT_TRUE(f.PolyExpSum->isChecked());
  EXPECT_TRUE(f.Taoscope->isChecked());
  EXPECT_TRUE(f.Thermos20X20->isChecked());
  EXPECT_TRUE(f.Ck->isChecked());

  // A checked button stays checked when clicked again.
  f.Ck->click();
  EXPECT_TRUE(f.Ck->isChecked());
  EXPECT_EQ(f.FormulaGroup->buttons().size(), 5);
  EXPECT_EQ(f.ThermosGroup->buttons().size(), 4);
}

TEST_F(MainFormLayout, ChoicesAreReadFromHiddenControlsToo) {
  TMainForm& f = Start();
  StepOptions o = f.CurrentStepOptions();
  EXPECT_EQ(o.force.formula, Formula::E);
  EXPECT_FALSE(o.force.dropB);
  EXPECT_FALSE(o.force.dropCDF);
  EXPECT_EQ(o.force.secondKindCount, 30);
  EXPECT_EQ(o.force.sign, SignMode::Gravoscope);
  EXPECT_EQ(o.threads, 0);  // one per core, as quindelle-run by default
  EXPECT_FALSE(o.blockade);
  EXPECT_FALSE(o.cooler);
  EXPECT_FALSE(o.heater);
  EXPECT_EQ(o.walls, Walls::None);

  // CheckBox2, Bk, PolyExpon, Taoscope and Thermos3X3 cannot be reached by
  // the mouse but are read all the same.
  f.CheckBox2->setChecked(true);
  f.CheckBox3->setChecked(true);
  f.Bk->setChecked(true);
  f.PolyExpon->setChecked(true);
  f.Taoscope->setChecked(true);
  f.Thermos3X3->setChecked(true);
  f.Blockade->setChecked(true);
  f.Cool->setChecked(true);
  f.Warm->setChecked(true);
  o = f.CurrentStepOptions();
  EXPECT_EQ(o.force.formula, Formula::PE);
  EXPECT_TRUE(o.force.dropB);
  EXPECT_TRUE(o.force.dropCDF);
  EXPECT_EQ(o.force.secondKindCount, 15);
  EXPECT_EQ(o.force.sign, SignMode::Taoscope);
  EXPECT_EQ(f.CurrentSignMode(), SignMode::Taoscope);
  EXPECT_TRUE(o.blockade);
  EXPECT_TRUE(o.cooler);
  EXPECT_TRUE(o.heater);
  EXPECT_EQ(o.walls, Walls::Thermos3X3);

  f.ExpoPolyExpSum->setChecked(true);
  f.ThermosNXN->setChecked(true);
  f.Ck->setChecked(true);
  o = f.CurrentStepOptions();
  EXPECT_EQ(o.force.formula, Formula::DUDI);
  EXPECT_EQ(o.walls, Walls::ThermosNXN);
  EXPECT_EQ(o.force.secondKindCount, 10);

  const SceneStyle style = f.CurrentSceneStyle();
  EXPECT_TRUE(style.taoscope);
  EXPECT_EQ(style.secondKindCount, 10);
  EXPECT_EQ(style.outerWidth, 604);
  EXPECT_EQ(style.panTop, 176);
  EXPECT_EQ(style.font.pixelSize(), 11);
}

TEST_F(MainFormLayout, MenusHaveTheirCaptionsAndShortcuts) {
  TMainForm& f = Start();
  struct Item {
    QAction* a;
    const char* name;
    const char* caption;
    QKeySequence key;
  };
  const Item items[] = {
      {f.New1, "New1", "New", QKeySequence(Qt::Key_F2)},
      {f.Open1, "Open1", "Open", QKeySequence(Qt::Key_F3)},
      {f.Save1, "Save1", "Save", QKeySequence(Qt::CTRL | Qt::Key_S)},
      {f.Saveas1, "Saveas1", "Save As ...", QKeySequence()},
      {f.Exit1, "Exit1", "Exit", QKeySequence(Qt::ALT | Qt::Key_X)},
      {f.Images, "Images", "Show Images", QKeySequence()},
      {f.Daons1, "Daons1", "Taons", QKeySequence(Qt::Key_F5)},
      {f.Spiral1, "Spiral1", "Spiral", QKeySequence()},
      {f.ShowSpin, "ShowSpin", "ShowSpin", QKeySequence(Qt::Key_F6)},
      {f.ShowNumbersOfPoints, "ShowNumbersOfPoints", "Show Numbers of Points", QKeySequence(Qt::Key_F7)},
      {f.MoveToCenter, "MoveToCenter", "Move to center", QKeySequence(Qt::Key_F8)},
      {f.RunHistory1, "RunHistory1", "Run History", QKeySequence(Qt::Key_F9)},
      {f.Left1, "Left1", "Left", QKeySequence(Qt::CTRL | Qt::Key_Left)},
      {f.Right1, "Right1", "Right", QKeySequence(Qt::CTRL | Qt::Key_Right)},
      {f.Up1, "Up1", "Up", QKeySequence(Qt::CTRL | Qt::Key_Up)},
      {f.Down1, "Down1", "Down", QKeySequence(Qt::CTRL | Qt::Key_Down)},
      {f.Help1, "Help1", "English Help", QKeySequence(Qt::Key_F1)},
      {f.RusHelp, "RusHelp", "Russian Help", QKeySequence(Qt::CTRL | Qt::Key_F1)},
      {f.PolHelp, "PolHelp", "Poland Help", QKeySequence(Qt::SHIFT | Qt::Key_F1)},
      {f.About1, "About1", "About", QKeySequence()},
  };
  for (const Item& i : items) {
    ASSERT_NE(i.a, nullptr) << i.name;
    EXPECT_EQ(i.a->objectName(), QString::fromLatin1(i.name));
    EXPECT_EQ(i.a->text(), QString::fromLatin1(i.caption)) << i.name;
    EXPECT_EQ(i.a->shortcut(), i.key) << i.name;
  }
  EXPECT_TRUE(f.N1->isSeparator());
  // The designed items, with the added Open Example after Open.
  EXPECT_EQ(f.File1->actions(),
            (QList<QAction*>{f.New1, f.Open1, f.OpenExample1, f.Save1, f.Saveas1, f.N1, f.Exit1}));
  EXPECT_EQ(f.View1->actions(),
            (QList<QAction*>{f.Images, f.ShowSpin, f.ShowNumbersOfPoints, f.MoveToCenter, f.RunHistory1}));
  EXPECT_EQ(f.ImagesMenu->actions(), (QList<QAction*>{f.Daons1, f.Spiral1}));
  EXPECT_EQ(f.Help0->actions(), (QList<QAction*>{f.Help1, f.RusHelp, f.PolHelp, f.About1}));
  QStringList titles;
  for (QAction* a : f.MainMenu->actions())
    if (a->isVisible()) titles << a->text();
  EXPECT_EQ(titles, (QStringList{QStringLiteral("File"), QStringLiteral("View"), QStringLiteral("&Simulation"),
                                 QStringLiteral("Help")}));
  EXPECT_FALSE(f.Manager1->menuAction()->isVisible());
  EXPECT_TRUE(f.ShowSpin->isCheckable());
  EXPECT_FALSE(f.ShowSpin->isChecked());
  EXPECT_TRUE(f.ShowNumbersOfPoints->isCheckable());
  EXPECT_TRUE(f.actions().contains(f.Up1));
}

TEST_F(MainFormLayout, HiddenManagerShortcutsWork) {
  TMainForm& f = StartShown();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  const Extended x = state.ShiftX, y = state.ShiftY;
  QTest::keyClick(&f, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(state.ShiftY, y - 5);
  QTest::keyClick(&f, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(state.ShiftX, x + 5);
  QTest::keyClick(&f, Qt::Key_Down, Qt::ControlModifier);
  QTest::keyClick(&f, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(state.ShiftX, x);
  EXPECT_EQ(state.ShiftY, y);
  // Also while a text field has the focus.
  f.EditDT->setFocus();
  QTest::keyClick(f.EditDT, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(state.ShiftY, y - 5);
  f.Comment->setFocus();
  QTest::keyClick(f.Comment, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(state.ShiftX, x - 5);
  QTest::keyClick(&f, Qt::Key_F6);
  EXPECT_TRUE(state.SpinOn);
  EXPECT_TRUE(f.ShowSpin->isChecked());
}

TEST_F(MainFormLayout, GoHasTwoLooks) {
  TMainForm& f = Start();
  EXPECT_EQ(f.Go->text(), QStringLiteral("Go"));
  EXPECT_FALSE(f.Go->icon().isNull());
  f.SetGoCancelLook();
  EXPECT_EQ(f.Go->text(), QStringLiteral("Stop"));
  f.SetGoOkLook();
  EXPECT_EQ(f.Go->text(), QStringLiteral("Go"));
}

}  // namespace
}  // namespace qd
