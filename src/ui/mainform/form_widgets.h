#pragma once
// Small widgets of the main window that the toolkit has no ready match for.
#include <QColor>
#include <QLabel>
#include <QWidget>

namespace qd {

// A circle filled with a brush colour (the run lamps beside the Go button).
class TShape : public QWidget {
  Q_OBJECT
 public:
  explicit TShape(QWidget* parent = nullptr);
  QColor brushColor() const { return brush_; }
  void setBrushColor(const QColor& c);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor brush_ = Qt::white;
};

// A label that reports double-clicks.
class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void doubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace qd
