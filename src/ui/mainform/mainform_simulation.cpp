// The Simulation menu and the keyboard's reach among the window's choices.
//
// The designed window stacks several choices exactly under others (the
// formulas PE, PES and DUDI under "False", three wall sizes under the
// other "False", the PES switches under a check box, Taoscope under
// Gravoscope) and puts Bk and Ck all but outside their page. The menu
// reaches every one of them: each item stands for one control, choosing it
// sets the control, and every change of the control moves the item's check
// mark. The controls stay the one place the choices live, so the run loop,
// the history and everything else keep reading them and nothing else.
//
// The keyboard, left to the toolkit, moved the focus onto hidden controls
// and selected them where nothing on the window showed it (Down from "E"
// chose the hidden PES, Down from Blockade put the focus on the hidden
// 1.5 walls, where Space chose them). Keys now reach only controls the user
// can see; the menu's check marks show everything else.
#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <cstdlib>
#include <utility>
#include <vector>

#include "core/batch/batch_run.h"
#include "ui/mainform/mainform.h"

namespace qd {
namespace {

template <class T, std::size_t N>
QString CommandLineName(const std::pair<const char*, T> (&names)[N], T value) {
  for (const auto& [name, v] : names)
    if (v == value) return QString::fromLatin1(name);
  return QString();
}

QString Capitalised(QString word) {
  if (!word.isEmpty()) word[0] = word[0].toUpper();
  return word;
}

// The item shows the control's state and sets it; only the user's choice of
// the item (triggered) sets the control, so the two never chase each other.
void Bind(QAction* item, QAbstractButton* control) {
  item->setObjectName(QStringLiteral("Sim") + control->objectName());
  item->setCheckable(true);
  item->setChecked(control->isChecked());
  QObject::connect(item, &QAction::triggered, control, [control](bool on) { control->setChecked(on); });
  QObject::connect(control, &QAbstractButton::toggled, item, &QAction::setChecked);
}

QMenu* Submenu(QMenu* menu, const QString& title, const char* name) {
  QMenu* sub = menu->addMenu(title);
  sub->setObjectName(QString::fromLatin1(name));
  sub->menuAction()->setObjectName(QString::fromLatin1(name));
  return sub;
}

// One item per radio button of a group, exclusive as the group is.
void Choices(QMenu* sub, const std::vector<std::pair<QString, QAbstractButton*>>& items) {
  auto* exclusive = new QActionGroup(sub);
  exclusive->setExclusive(true);
  for (const auto& [caption, control] : items) Bind(exclusive->addAction(sub->addAction(caption)), control);
}

// Whether a click inside the control's container can land on the control:
// false for a control that later siblings cover completely, or that lies
// outside its container but for a column that ignores the mouse.
bool ClickableSomewhere(const QWidget* w) {
  const QWidget* container = w->parentWidget();
  if (!container || w->isHidden() || w->testAttribute(Qt::WA_TransparentForMouseEvents)) return false;
  const QRect area = w->geometry().intersected(container->rect());
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (container->childAt(x, y) == w) return true;
  return false;
}

// Arrow keys on a radio button move to the nearest button of its group in
// that direction that the user can see, and select it when the one left was
// selected, as the toolkit does; a hidden button is never a target.
class VisibleChoiceKeys : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const int k = key->key();
    if (k != Qt::Key_Up && k != Qt::Key_Down && k != Qt::Key_Left && k != Qt::Key_Right) return false;
    auto* from = qobject_cast<QAbstractButton*>(watched);
    if (!from || !from->group()) return false;
    if (QAbstractButton* to = Neighbour(from, k)) {
      const bool select = from->isChecked();
      to->setFocus(k == Qt::Key_Up || k == Qt::Key_Left ? Qt::BacktabFocusReason : Qt::TabFocusReason);
      if (select) to->click();
    }
    return true;
  }

 private:
  static QAbstractButton* Neighbour(QAbstractButton* from, int k) {
    const QPoint here = from->mapTo(from->window(), from->rect().center());
    QAbstractButton* best = nullptr;
    std::pair<int, int> bestDistance;
    for (QAbstractButton* b : from->group()->buttons()) {
      if (b == from || !b->isEnabled() || !ClickableSomewhere(b)) continue;
      const QPoint d = b->mapTo(b->window(), b->rect().center()) - here;
      // Distance along the key's direction (must be ahead), then across it.
      int along = 0, across = 0;
      switch (k) {
        case Qt::Key_Up: along = -d.y(), across = std::abs(d.x()); break;
        case Qt::Key_Down: along = d.y(), across = std::abs(d.x()); break;
        case Qt::Key_Left: along = -d.x(), across = std::abs(d.y()); break;
        default: along = d.x(), across = std::abs(d.y()); break;
      }
      if (along <= 0) continue;
      if (!best || std::pair(along, across) < bestDistance) best = b, bestDistance = {along, across};
    }
    return best;
  }
};

}  // namespace

void TMainForm::BuildSimulationMenu() {
  Simulation1 = new QMenu(QStringLiteral("&Simulation"), MainMenu);
  Simulation1->setObjectName(QStringLiteral("Simulation1"));
  Simulation1->menuAction()->setObjectName(QStringLiteral("Simulation1"));
  // After View, before the hidden Manager menu and Help.
  MainMenu->insertMenu(Manager1->menuAction(), Simulation1);

  // Captions are the names quindelle-run takes; the hidden controls keep
  // their own captions.
  using batch::kFormulaNames, batch::kKindNames, batch::kSignNames, batch::kWallNames;
  Choices(Submenu(Simulation1, QStringLiteral("&Formula"), "SimFormula"),
          {{CommandLineName(kFormulaNames, Formula::E), Exponential},
           {CommandLineName(kFormulaNames, Formula::PE), PolyExpon},
           {CommandLineName(kFormulaNames, Formula::PES), PolyExpSum},
           {CommandLineName(kFormulaNames, Formula::DUDI), ExpoPolyExpSum},
           {CommandLineName(kFormulaNames, Formula::EPESminus), EPESminus}});
  Choices(Submenu(Simulation1, QStringLiteral("&Sign"), "SimSign"),
          {{Capitalised(CommandLineName(kSignNames, SignMode::Gravoscope)), Gravoscope},
           {Capitalised(CommandLineName(kSignNames, SignMode::Taoscope)), Taoscope}});
  Choices(Submenu(Simulation1, QStringLiteral("Second &kind"), "SimKinds"),
          {{CommandLineName(kKindNames, 30), Ak},
           {CommandLineName(kKindNames, 15), Bk},
           {CommandLineName(kKindNames, 10), Ck}});
  Choices(Submenu(Simulation1, QStringLiteral("&Walls"), "SimWalls"),
          {{CommandLineName(kWallNames, Walls::None), Thermosout},
           {CommandLineName(kWallNames, Walls::Thermos3X3), Thermos3X3},
           {CommandLineName(kWallNames, Walls::Thermos20X20), Thermos20X20},
           {CommandLineName(kWallNames, Walls::ThermosNXN), ThermosNXN}});
  // The switches that act on PES; "(1+6)'" acts on nothing and has no item.
  QMenu* drop = Submenu(Simulation1, QStringLiteral("&Drop terms"), "SimDrop");
  Bind(drop->addAction(QStringLiteral("drop-b")), CheckBox2);
  Bind(drop->addAction(QStringLiteral("drop-cdf")), CheckBox3);
  Simulation1->addSeparator();
  Bind(Simulation1->addAction(QStringLiteral("&Cooler")), Cool);
  Bind(Simulation1->addAction(QStringLiteral("&Heater")), Warm);
  Bind(Simulation1->addAction(QStringLiteral("&Blockade")), Blockade);
}

void TMainForm::KeepKeysOnVisibleChoices() {
  // Tab and the arrow keys of check boxes move the focus along the focus
  // chain; a control nobody can see must not be on it, or Space would
  // change it unseen.
  for (QAbstractButton* b : centralWidget()->findChildren<QAbstractButton*>())
    if (b->isCheckable() && !ClickableSomewhere(b)) b->setFocusPolicy(Qt::NoFocus);
  auto* keys = new VisibleChoiceKeys(this);
  for (QButtonGroup* group : {FormulaGroup, SignGroup, ThermosGroup, KindGroup})
    for (QAbstractButton* b : group->buttons()) b->installEventFilter(keys);
}

}  // namespace qd
