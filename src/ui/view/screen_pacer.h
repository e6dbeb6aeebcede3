#pragma once
// During a run the picture, the listing and the step count are drawn after
// every step, but copied to the screen at most once per display frame, and
// less often where copies are dear (FramePacer): a copy costs more than a
// fast step, and a display shows only its frames.
// When the run ends (its last step, a fault, Stop) the latest drawing is
// shown at once.
//
// The picture holds its own copies back. Every other widget of the window
// marks what changed as usual, and the window's request to repaint the
// marked areas waits for the next frame: a frame then repaints what changed
// and nothing else (re-enabling a widget's updates would repaint all of it,
// the listing's texts, frame and scroll bar included, even when nothing in it
// changed).
#include <QElapsedTimer>
#include <QObject>

#include "core/view/frame_pacer.h"

class QWidget;

namespace qd {

class PictureCanvas;

class ScreenPacer : public QObject {
 public:
  // For the length of a run of `window`, whose picture is `canvas`.
  ScreenPacer(QWidget* window, PictureCanvas* canvas, FramePacer& frames);
  ~ScreenPacer() override;
  ScreenPacer(const ScreenPacer&) = delete;
  ScreenPacer& operator=(const ScreenPacer&) = delete;

  // Before a step's event processing: when a frame is due, what changed goes
  // to the screen now, and the repaints these events ask for with it.
  void BeforeEvents();
  void AfterEvents() { open_ = false; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A request held back is asked for by no one again until the window has
  // repainted: send it.
  void SyncHeld();

  QWidget* window_;
  PictureCanvas* canvas_;
  FramePacer& frames_;
  QElapsedTimer clock_;
  bool open_ = false;
  bool held_ = false;
};

}  // namespace qd
