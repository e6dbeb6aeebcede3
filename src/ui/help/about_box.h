#pragma once
#include <QDialog>

namespace qd {

// The About box.
class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace qd
