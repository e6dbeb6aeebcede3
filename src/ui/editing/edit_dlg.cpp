#include "ui/editing/edit_dlg.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <cmath>
#include <exception>
#include <string>

#include "core/common/fp_guard.h"
#include "core/editing/number_text.h"
#include "core/persistence/config_record.h"
#include "core/persistence/start_pointer.h"
#include "ui/common/colours.h"
#include "ui/common/designed_look.h"
#include "ui/common/dialogs.h"
#include "ui/common/field_text.h"
#include "ui/common/fonts.h"
#include "ui/editing/key_filter.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

const QString kStars = QStringLiteral("**********************************");

QString NumberText(Extended v) { return QString::fromStdString(FloatToText(v, LocaleDecimalSeparator())); }

Extended FieldValue(const QString& text) { return TextToFloat(text.toStdString(), LocaleDecimalSeparator()); }

void Show(QLineEdit* field, const QString& text) { ShowFieldText(field, text); }

void SetBold(QWidget* w) {
  QFont f = w->font();
  f.setBold(true);
  w->setFont(f);
  if (auto* label = qobject_cast<QLabel*>(w)) label->adjustSize();  // bold text is wider
}

void SetTextColour(QWidget* w, const QColor& c, QPalette::ColorRole role) {
  QPalette p = w->palette();
  p.setColor(role, c);
  w->setPalette(p);
}

}  // namespace

TEditDlg::TEditDlg(SimState& state, std::function<SignMode()> signMode, QWidget* parent)
    : QDialog(parent), state_(state), signMode_(std::move(signMode)) {
  setObjectName(QStringLiteral("EditDlg"));
  setWindowTitle(QStringLiteral(" Editing of gravon's or taon's values"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(true);
  setFixedSize(787, 449);
  setFont(WindowFont(11));
  BuildControls();
  UseDesignedLook(this);
}

QLabel* TEditDlg::AddLabel(const QString& text, int x, int y, const QString& name) {
  auto* label = new QLabel(text, this);
  if (!name.isEmpty()) label->setObjectName(name);
  label->move(x, y);
  label->adjustSize();
  // Labels are painted on the dialog itself, beneath the fields they touch.
  label->lower();
  return label;
}

QLineEdit* TEditDlg::AddField(const QString& name, const QString& text, int x, int y, int w, int h) {
  auto* field = new QLineEdit(this);
  field->setObjectName(name);
  field->setGeometry(x, y, w, h);
  Show(field, text);
  return field;
}

void TEditDlg::BuildControls() {
  // Time step and parameters.
  AddLabel(QStringLiteral("Differential of time"), 0, 0);
  AddLabel(QStringLiteral("dt="), 0, 21);
  EditDT = AddField(QStringLiteral("EditDT"), QStringLiteral("0,01"), 16, 16, 65, 21);
  SetBold(AddLabel(QStringLiteral("Serial number of grav. or taons"), 0, 40));
  AddLabel(QStringLiteral("Parametrs"), 200, 0);

  const char* names1[5] = {"A1", "B1", "C1", "D1", "F1"};
  const char* names2[5] = {"A2", "B2", "C2", "D2", "F2"};
  const char* initial[5] = {"1", "1", "2", "3", "4"};
  QLineEdit** fields1[5] = {&EditA1, &EditB1, &EditC1, &EditD1, &EditF1};
  QLineEdit** fields2[5] = {&EditA2, &EditB2, &EditC2, &EditD2, &EditF2};
  for (int k = 0; k < 5; ++k) {
    AddLabel(QString::fromLatin1(names1[k]), 184, 24 + 24 * k);
    *fields1[k] = AddField(QStringLiteral("Edit") + QString::fromLatin1(names1[k]),
                           QString::fromLatin1(initial[k]), 200, 16 + 24 * k, 81, 21);
    SetTextColour(*fields1[k], kLime, QPalette::Base);
    AddLabel(QString::fromLatin1(names2[k]), 288, 24 + 24 * k);
    *fields2[k] = AddField(QStringLiteral("Edit") + QString::fromLatin1(names2[k]),
                           QString::fromLatin1(initial[k]), 304, 16 + 24 * k, 81, 21);
    SetTextColour(*fields2[k], kYellow, QPalette::Base);
  }

  // Calculator.
  const int t[4] = {72, 152, 232, 312}, u[4] = {88, 168, 248, 327}, v[4] = {112, 192, 272, 355};
  for (int k = 0; k < 4; ++k) BuildCalculatorRow(k, t[k], u[k], v[k]);
  const int starsY[5] = {56, 136, 216, 296, 383};
  for (int k = 0; k < 5; ++k) {
    QLabel* stars = AddLabel(kStars, 8, starsY[k], QStringLiteral("Stars%1").arg(k + 1));
    SetBold(stars);
    SetTextColour(stars, kBlue, QPalette::WindowText);
  }

  // The slot being edited.
  SetTextColour(AddLabel(QStringLiteral("Gravon or Taon"), 240, 152), kNavy, QPalette::WindowText);
  NumberOfTaon = AddLabel(QStringLiteral("1"), 336, 149, QStringLiteral("NumberOfTaon"));
  SetBold(NumberOfTaon);
  NumberOfTaon->setMinimumWidth(24);
  AddLabel(QStringLiteral("Coordinats"), 240, 176);
  AddLabel(QStringLiteral("X ="), 224, 200);
  AddLabel(QStringLiteral("Y ="), 224, 224);
  AddLabel(QStringLiteral("Z ="), 224, 248);
  EditX = AddField(QStringLiteral("EditX"), QStringLiteral("0"), 240, 192, 121, 21);
  EditY = AddField(QStringLiteral("EditY"), QStringLiteral("0"), 240, 216, 121, 21);
  EditZ = AddField(QStringLiteral("EditZ"), QStringLiteral("0"), 240, 240, 121, 21);
  AddLabel(QStringLiteral("VeloCity"), 240, 272);
  AddLabel(QStringLiteral("u(x)="), 216, 296);
  AddLabel(QStringLiteral("u(y)="), 216, 320);
  AddLabel(QStringLiteral("u(z)="), 216, 344);
  EditV = AddField(QStringLiteral("EditV"), QStringLiteral("0"), 240, 288, 121, 21);
  EditU = AddField(QStringLiteral("EditU"), QStringLiteral("0"), 240, 312, 121, 21);
  EditW = AddField(QStringLiteral("EditW"), QStringLiteral("0"), 240, 336, 121, 21);
  DaoTrue = new QCheckBox(QStringLiteral("There is Gravon or Taon"), this);
  DaoTrue->setObjectName(QStringLiteral("DaoTrue"));
  DaoTrue->setGeometry(224, 368, 137, 17);
  Submit = new QPushButton(style()->standardIcon(QStyle::SP_DialogYesButton), QStringLiteral("&Yes"), this);
  Submit->setObjectName(QStringLiteral("Submit"));
  Submit->setGeometry(224, 387, 65, 25);
  Saveas = new QPushButton(QStringLiteral("Save As"), this);
  Saveas->setObjectName(QStringLiteral("Saveas"));
  Saveas->setGeometry(296, 387, 67, 25);

  // File name.
  SetTextColour(AddLabel(QStringLiteral("FileName"), 16, 400), kNavy, QPalette::WindowText);
  EditFileName = AddField(QStringLiteral("EditFileName"), QStringLiteral("EditFileName"), 8, 419, 593, 24);
  SetBold(EditFileName);
  SetTextColour(EditFileName, kBlue, QPalette::Text);

  // Table.
  DaonsTable = new StringGrid(4, kSlotCount + 1, this);
  DaonsTable->setObjectName(QStringLiteral("DaonsTable"));
  DaonsTable->setGeometry(386, 2, 399, 399);
  DaonsTable->setDefaultColumnWidth(92);
  DaonsTable->setDefaultRowHeight(18);
  DaonsTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  DaonsTable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  shownRow_ = DaonsTable->currentRow();

  // Closing.
  OKBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setGeometry(623, 418, 75, 26);
  CancelBtn =
      new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn->setGeometry(703, 418, 75, 26);
  // Both Submit and OK are designed as default buttons; Enter presses Submit,
  // which keeps the dialog open, rather than OK, which closes it.
  OKBtn->setDefault(true);
  Submit->setDefault(true);

  // The filtered fields take only what a number is typed with.
  for (QLineEdit* f : {EditDT, EditA1, EditB1, EditC1, EditD1, EditX, EditY, EditZ, EditV, EditU, EditW})
    InstallNumericKeyFilter(f);

  connect(DaonsTable, &StringGrid::currentRowChanged, this, &TEditDlg::OnCurrentRowChanged);
  connect(DaonsTable, &StringGrid::doubleClicked, this, &TEditDlg::DaonsTableDblClick);
  connect(Submit, &QPushButton::clicked, this, &TEditDlg::SubmitClick);
  connect(Saveas, &QPushButton::clicked, this, &TEditDlg::SaveasClick);
  connect(OKBtn, &QPushButton::clicked, this, &TEditDlg::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TEditDlg::BuildCalculatorRow(int index, int t, int u, int v) {
  const int n = index + 1;
  AddLabel(QStringLiteral("Calculation of distance %1").arg(n), 8, t, QStringLiteral("LabelCal%1").arg(n));
  CalculatorRow& row = calc_[index];
  row.first = AddField(QStringLiteral("EditCal%1Part1").arg(n), QStringLiteral("0"), 8, u, 25, 21);
  row.second = AddField(QStringLiteral("EditCal%1Part2").arg(n), QStringLiteral("0"), 40, u, 25, 21);
  row.result = AddField(QStringLiteral("EditResult%1").arg(n), QStringLiteral("0"), 72, u, 105, 21);
  auto* calculate = new QPushButton(QStringLiteral("Calculate %1").arg(n), this);
  calculate->setObjectName(QStringLiteral("Calculate%1").arg(n));
  calculate->setGeometry(8, v, 57, 25);
  auto* reset = new QPushButton(QStringLiteral("Reset %1").arg(n), this);
  reset->setObjectName(QStringLiteral("Reset%1").arg(n));
  reset->setGeometry(72, v, 105, 25);
  AddLabel(QStringLiteral("Result %1").arg(n), 136, t, QStringLiteral("LabelResult%1").arg(n));
  connect(calculate, &QPushButton::clicked, this, [this, index] { CalculateClick(index); });
  connect(reset, &QPushButton::clicked, this, [this, index] { ResetClick(index); });

  QLineEdit** parts[4][3] = {{&EditCal1Part1, &EditCal1Part2, &EditResult1},
                             {&EditCal2Part1, &EditCal2Part2, &EditResult2},
                             {&EditCal3Part1, &EditCal3Part2, &EditResult3},
                             {&EditCal4Part1, &EditCal4Part2, &EditResult4}};
  *parts[index][0] = row.first;
  *parts[index][1] = row.second;
  *parts[index][2] = row.result;
  QPushButton** calcs[4] = {&Calculate1, &Calculate2, &Calculate3, &Calculate4};
  QPushButton** resets[4] = {&Reset1, &Reset2, &Reset3, &Reset4};
  *calcs[index] = calculate;
  *resets[index] = reset;
}

int TEditDlg::Execute() { return exec(); }

void TEditDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    if (QScreen* s = screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(s->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QDialog::showEvent(event);
}

void TEditDlg::ShowError(const char* text) { AppDialogs().Error(this, QString::fromUtf8(text)); }

void TEditDlg::FormShow() {
  Show(EditFileName, PathText(state_.CurrentName));
  LoadSlotFields(DaonsTable->currentRow());
  LoadParameterFields();
  FillEditorTable();
}

void TEditDlg::LoadSlotFields(int row) {
  if (row < 1 || row > kSlotCount) return;
  NumberOfTaon->setText(QString::number(row));
  NumberOfTaon->adjustSize();
  try {
    Show(EditX, NumberText(state_.X[row]));
    Show(EditY, NumberText(state_.Y[row]));
    Show(EditZ, NumberText(state_.Z[row]));
    Show(EditV, NumberText(state_.UX[row]));
    Show(EditU, NumberText(state_.UY[row]));
    Show(EditW, NumberText(state_.UZ[row]));
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
  DaoTrue->setChecked(state_.Present[row] != 0);
}

void TEditDlg::LoadParameterFields() {
  QLineEdit* fields[11] = {EditDT, EditA1, EditB1, EditC1, EditD1, EditF1,
                           EditA2, EditB2, EditC2, EditD2, EditF2};
  try {
    for (int k = 0; k < 11; ++k) Show(fields[k], NumberText(state_.*kParameterBlock[k]));
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TEditDlg::FillEditorTable() {
  if (!state_.EditorVelocityMode) {
    if (signMode_)
      DaonsTable->SetCell(
          0, 0, signMode_() == SignMode::Taoscope ? QStringLiteral("Taons") : QStringLiteral("Gravons"));
    DaonsTable->SetCell(1, 0, QStringLiteral("X"));
    DaonsTable->SetCell(2, 0, QStringLiteral("Y"));
    DaonsTable->SetCell(3, 0, QStringLiteral("Z"));
  } else {
    DaonsTable->SetCell(0, 0, QStringLiteral("Velo"));
    DaonsTable->SetCell(1, 0, QStringLiteral("u(x)"));
    DaonsTable->SetCell(2, 0, QStringLiteral("u(y)"));
    DaonsTable->SetCell(3, 0, QStringLiteral("u(z)"));
  }
  try {
    for (int s = 1; s <= kSlotCount; ++s) {
      DaonsTable->SetCell(0, s, QString::number(s));
      const bool present = state_.Present[s] != 0;
      const bool velo = state_.EditorVelocityMode;
      DaonsTable->SetCell(1, s, present ? NumberText(velo ? state_.UX[s] : state_.X[s]) : QString());
      DaonsTable->SetCell(2, s, present ? NumberText(velo ? state_.UY[s] : state_.Y[s]) : QString());
      DaonsTable->SetCell(3, s, present ? NumberText(velo ? state_.UZ[s] : state_.Z[s]) : QString());
    }
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TEditDlg::OnCurrentRowChanged(int row) {
  DaonsTableSelectCell(shownRow_);
  shownRow_ = row;
  DaonsTableClick();
}

void TEditDlg::DaonsTableSelectCell(int row) { LoadSlotFields(row); }

void TEditDlg::DaonsTableClick() {
  LoadSlotFields(DaonsTable->currentRow());
  FillEditorTable();
}

void TEditDlg::DaonsTableDblClick() {
  state_.EditorVelocityMode = !state_.EditorVelocityMode;
  FillEditorTable();
}

void TEditDlg::SubmitClick() {
  try {
    const int s = TextToInteger(NumberOfTaon->text().toStdString());
    // NumberOfTaon is only ever set from a table row, so it names a slot.
    if (s < 1 || s > kSlotCount) return;
    state_.X[s] = FieldValue(EditX->text());
    state_.Y[s] = FieldValue(EditY->text());
    state_.Z[s] = FieldValue(EditZ->text());
    state_.UX[s] = FieldValue(EditV->text());
    state_.UY[s] = FieldValue(EditU->text());
    state_.UZ[s] = FieldValue(EditW->text());
    state_.Present[s] = DaoTrue->isChecked() ? 1 : 0;
    FillEditorTable();
    // Show the stored values as the program writes them.
    LoadSlotFields(s);
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TEditDlg::StoreParameterFields() {
  QLineEdit* fields[11] = {EditDT, EditA1, EditB1, EditC1, EditD1, EditF1,
                           EditA2, EditB2, EditC2, EditD2, EditF2};
  for (int k = 0; k < 11; ++k) state_.*kParameterBlock[k] = FieldValue(fields[k]->text());
}

void TEditDlg::SaveasClick() {
  const std::optional<QString> path = ChooseSavePath(this, FileDialogSpec{});
  if (!path) return;
  Show(EditFileName, *path);
  try {
    StoreParameterFields();
    FillConfigRecord(state_);
    WriteConfigFile(state_, PathBytes(*path));
    LoadParameterFields();
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TEditDlg::InstallPresentSlots() {
  for (int s = 1; s <= kSlotCount; ++s)
    if (state_.Present[s] != 0) InstallSlot(state_, s);
}

void TEditDlg::OKBtnClick() {
  try {
    const std::optional<QString> path = ChooseSavePath(this, FileDialogSpec{});
    if (path) {
      StoreParameterFields();
      FillConfigRecord(state_);
      WriteConfigFile(state_, PathBytes(*path));
      state_.CurrentName = PathBytes(*path);
      RememberStartName(state_, StartPointerPath());
    }
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
  // Whatever happened to the file, the next run must start from what the user
  // submitted, not from stale working copies.
  InstallPresentSlots();
  accept();
}

void TEditDlg::CalculateClick(int index) {
  if (index < 0 || index >= int(calc_.size())) return;
  const CalculatorRow& row = calc_[std::size_t(index)];
  try {
    const char sep = LocaleDecimalSeparator();
    auto cell = [&](int col, int slot) {
      return TextToFloat(DaonsTable->Cells(col, slot).toStdString(), sep);
    };
    const int i = TextToInteger(row.first->text().toStdString());
    const Extended x1 = cell(1, i), y1 = cell(2, i), z1 = cell(3, i);
    const int j = TextToInteger(row.second->text().toStdString());
    const Extended x2 = cell(1, j), y2 = cell(2, j), z2 = cell(3, j);
    ClearFpFlags();
    const Extended dx = x2 - x1, dy = y2 - y1, dz = z2 - z1;
    const Extended d = std::sqrt(((dx * dx) + (dy * dy)) + (dz * dz));
    CheckFpFlags(d);
    Show(row.result, QStringLiteral("0"));
    Show(row.result, NumberText(d));
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TEditDlg::ResetClick(int index) {
  if (index < 0 || index >= int(calc_.size())) return;
  const CalculatorRow& row = calc_[std::size_t(index)];
  Show(row.first, QStringLiteral("0"));
  Show(row.second, QStringLiteral("0"));
  Show(row.result, QStringLiteral("0"));
}

}  // namespace qd
