// The window's choices as a run and a drawing read them: the designed
// controls are the one place they are kept.
#include <QCheckBox>
#include <QRadioButton>

#include "ui/mainform/form_widgets.h"
#include "ui/mainform/mainform.h"

namespace qd {

StepOptions TMainForm::CurrentStepOptions() const {
  StepOptions o;
  if (Exponential->isChecked()) {
    o.force.formula = Formula::E;
  } else if (PolyExpon->isChecked()) {
    o.force.formula = Formula::PE;
  } else if (PolyExpSum->isChecked()) {
    o.force.formula = Formula::PES;
  } else if (ExpoPolyExpSum->isChecked()) {
    o.force.formula = Formula::DUDI;
  } else if (EPESminus->isChecked()) {
    o.force.formula = Formula::EPESminus;
  }
  o.force.dropB = CheckBox2->isChecked();
  o.force.dropCDF = CheckBox3->isChecked();
  o.force.secondKindCount = SecondKindCount();
  o.force.sign = CurrentSignMode();
  o.blockade = Blockade->isChecked();
  o.cooler = Cool->isChecked();
  o.heater = Warm->isChecked();
  if (Thermos3X3->isChecked()) {
    o.walls = Walls::Thermos3X3;
  } else if (Thermos20X20->isChecked()) {
    o.walls = Walls::Thermos20X20;
  } else if (ThermosNXN->isChecked()) {
    o.walls = Walls::ThermosNXN;
  }
  return o;
}

void TMainForm::SetStepOptions(const StepOptions& o) {
  const std::pair<Formula, QRadioButton*> formulas[] = {{Formula::E, Exponential},
                                                        {Formula::PE, PolyExpon},
                                                        {Formula::PES, PolyExpSum},
                                                        {Formula::DUDI, ExpoPolyExpSum},
                                                        {Formula::EPESminus, EPESminus}};
  for (const auto& [formula, button] : formulas)
    if (formula == o.force.formula) button->setChecked(true);
  CheckBox2->setChecked(o.force.dropB);
  CheckBox3->setChecked(o.force.dropCDF);
  (o.force.secondKindCount == 15 ? Bk : o.force.secondKindCount == 10 ? Ck : Ak)->setChecked(true);
  (o.force.sign == SignMode::Taoscope ? Taoscope : Gravoscope)->setChecked(true);
  Blockade->setChecked(o.blockade);
  Cool->setChecked(o.cooler);
  Warm->setChecked(o.heater);
  const std::pair<Walls, QRadioButton*> walls[] = {{Walls::None, Thermosout},
                                                   {Walls::Thermos3X3, Thermos3X3},
                                                   {Walls::Thermos20X20, Thermos20X20},
                                                   {Walls::ThermosNXN, ThermosNXN}};
  for (const auto& [w, button] : walls)
    if (w == o.walls) button->setChecked(true);
}

SignMode TMainForm::CurrentSignMode() const {
  return Taoscope->isChecked() ? SignMode::Taoscope : SignMode::Gravoscope;
}

int TMainForm::SecondKindCount() const {
  if (Bk->isChecked()) return 15;
  if (Ck->isChecked()) return 10;
  return 30;
}

SceneStyle TMainForm::CurrentSceneStyle() const {
  SceneStyle style;
  style.taoscope = Taoscope->isChecked();
  style.secondKindCount = SecondKindCount();
  style.numbersOn = state_.NumbersOn;
  style.font = font();
  style.outerWidth = OuterWidth();
  style.panTop = Pan->y();
  return style;
}

}  // namespace qd
