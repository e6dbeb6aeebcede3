#pragma once
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace qd {

// The About box: the program's name, what it does, its version and licence.
class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  QFrame* Panel1;
  QLabel* ProductName;
  QLabel* Comments;
  QLabel* Version;
  QLabel* Licence;  // the licence the program comes under
  QPushButton* OKButton;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace qd
