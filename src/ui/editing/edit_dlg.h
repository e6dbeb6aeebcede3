#pragma once
#include <QDialog>
#include <array>
#include <functional>

#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qd {

class StringGrid;

// The editor of slots and parameters, with the distance calculator. It edits
// the shared state directly; the fields are refreshed from the state when the
// dialog opens and after the actions that store into it, never behind the
// user's back while text is being typed.
class TEditDlg : public QDialog {
  Q_OBJECT
 public:
  // `signMode` tells which of the main window's sign-mode buttons is checked.
  TEditDlg(SimState& state, std::function<SignMode()> signMode, QWidget* parent = nullptr);

  // Shows the dialog modally; QDialog::Accepted after OK, Rejected otherwise.
  int Execute();

  // Everything shown from the state: the file name, the current row's slot,
  // the parameter block and the table. Runs whenever the dialog opens.
  void FormShow();
  // The slot fields, NumberOfTaon and DaoTrue show slot `row`.
  void LoadSlotFields(int row);
  // The parameter fields show the parameter block.
  void LoadParameterFields();
  // Rewrites the table from the state in the current mode.
  void FillEditorTable();

  // Table: the current row changed (by click or keys), the row is about to
  // be left, and the double click that toggles positions and velocities.
  void DaonsTableClick();
  void DaonsTableSelectCell(int row);
  void DaonsTableDblClick();

  void SubmitClick();
  void SaveasClick();
  void OKBtnClick();

  // Distance calculator, rows 1..4 (row index 0..3 in the arrays below).
  void CalculateClick(int row);
  void ResetClick(int row);
  void Calculate1Click() { CalculateClick(0); }
  void Calculate2Click() { CalculateClick(1); }
  void Calculate3Click() { CalculateClick(2); }
  void Calculate4Click() { CalculateClick(3); }
  void Reset1Click() { ResetClick(0); }
  void Reset2Click() { ResetClick(1); }
  void Reset3Click() { ResetClick(2); }
  void Reset4Click() { ResetClick(3); }

  // Controls, named as on the designed window.
  QLineEdit *EditDT, *EditA1, *EditB1, *EditC1, *EditD1, *EditF1;
  QLineEdit *EditA2, *EditB2, *EditC2, *EditD2, *EditF2;
  QLabel* NumberOfTaon;
  QLineEdit *EditX, *EditY, *EditZ, *EditV, *EditU, *EditW;
  QCheckBox* DaoTrue;
  QPushButton *Submit, *Saveas;
  QLineEdit* EditFileName;
  StringGrid* DaonsTable;
  QPushButton *OKBtn, *CancelBtn;

  QLineEdit *EditCal1Part1, *EditCal1Part2, *EditResult1;
  QLineEdit *EditCal2Part1, *EditCal2Part2, *EditResult2;
  QLineEdit *EditCal3Part1, *EditCal3Part2, *EditResult3;
  QLineEdit *EditCal4Part1, *EditCal4Part2, *EditResult4;
  QPushButton *Calculate1, *Calculate2, *Calculate3, *Calculate4;
  QPushButton *Reset1, *Reset2, *Reset3, *Reset4;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct CalculatorRow {
    QLineEdit* first;
    QLineEdit* second;
    QLineEdit* result;
  };

  void BuildControls();
  void BuildCalculatorRow(int index, int t, int u, int v);
  QLabel* AddLabel(const QString& text, int x, int y, const QString& name = QString());
  QLineEdit* AddField(const QString& name, const QString& text, int x, int y, int w, int h);
  void OnCurrentRowChanged(int row);
  // Field text -> parameter block, in file order; stops at the first bad one.
  void StoreParameterFields();
  // The present slots' working and display copies take their committed values.
  void InstallPresentSlots();
  void ShowError(const char* text);

  SimState& state_;
  std::function<SignMode()> signMode_;
  std::array<CalculatorRow, 4> calc_{};
  int shownRow_ = 1;
};

}  // namespace qd
