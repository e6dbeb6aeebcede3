#pragma once
// The picture area of the main window: an image the size of the area that is
// blitted on paint. Mouse presses and releases are handed on to the window.
#include <QImage>
#include <QWidget>

namespace qd {

class PictureCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit PictureCanvas(QWidget* parent = nullptr);
  // The image drawn on; it always has the widget's size, even before the
  // widget is first shown (a hidden widget gets its resize event late); a
  // widget without area keeps a 1 x 1 image.
  QImage& image();
  const QImage& image() const { return image_; }
  // Shows the image now (our own drawing: no repaint of the window itself).
  // Does nothing while a systemPaint handler runs: that paint shows the image anyway.
  void blit();
  // While held, blit() only notes that the image changed; showPending()
  // shows it then, and so does releasing the hold.
  void holdBlits(bool hold);
  void showPending();

 signals:
  // Positions are in the canvas' coordinates.
  void mousePressed(Qt::MouseButton button, QPoint pos);
  void mouseReleased(Qt::MouseButton button, QPoint pos);
  // The system asks for the area to be painted (first show, expose, resize),
  // as opposed to our own blit(). Handlers draw into image(); what they draw
  // is shown by this very paint.
  void systemPaint();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void FitImage();

  QImage image_;
  bool blitting_ = false;
  bool inSystemPaint_ = false;
  bool held_ = false;
  bool pending_ = false;
};

}  // namespace qd
