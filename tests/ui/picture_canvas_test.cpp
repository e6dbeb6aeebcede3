#include "ui/view/picture_canvas.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "core/view/frame_pacer.h"
#include "ui/view/screen_pacer.h"

namespace qd {
namespace {

TEST(PictureCanvas, ImageFollowsTheWidgetSizeAndKeepsItsContent) {
  PictureCanvas c;
  c.resize(596, 176);
  c.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
  EXPECT_EQ(c.image().size(), QSize(596, 176));
  c.image().setPixel(10, 10, qRgb(0, 255, 0));
  c.resize(700, 300);
  QTest::qWait(1);
  EXPECT_EQ(c.image().size(), QSize(700, 300));
  EXPECT_EQ(c.image().pixel(10, 10), qRgb(0, 255, 0));
  EXPECT_EQ(c.image().pixel(650, 250), qRgb(0, 0, 0));
}

TEST(PictureCanvas, HiddenCanvasAlreadyHasItsImageSize) {
  QWidget window;
  auto* c = new PictureCanvas(&window);
  c->setGeometry(0, 0, 596, 176);
  EXPECT_EQ(c->image().size(), QSize(596, 176));
  EXPECT_EQ(c->image().pixel(595, 175), qRgb(0, 0, 0));
}

TEST(PictureCanvas, OwnBlitIsNotASystemPaint) {
  PictureCanvas c;
  c.resize(200, 100);
  QSignalSpy system(&c, &PictureCanvas::systemPaint);
  // What the system paint handler draws is shown by that same paint.
  QObject::connect(&c, &PictureCanvas::systemPaint, [&] {
    c.image().fill(qRgb(255, 0, 0));
    c.blit();  // ignored: no repaint from inside a paint
  });
  c.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
  QTRY_VERIFY(system.count() >= 1);
  EXPECT_EQ(c.grab().toImage().pixel(5, 5), qRgb(255, 0, 0));
  const int seen = system.count();

  c.image().fill(qRgb(0, 0, 255));
  c.blit();
  c.blit();
  EXPECT_EQ(system.count(), seen);
}

TEST(PictureCanvas, MousePressAndReleaseCarryButtonAndPosition) {
  PictureCanvas c;
  c.resize(200, 100);
  c.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
  QSignalSpy press(&c, &PictureCanvas::mousePressed);
  QSignalSpy release(&c, &PictureCanvas::mouseReleased);
  QTest::mousePress(&c, Qt::RightButton, {}, QPoint(30, 40));
  QTest::mouseRelease(&c, Qt::RightButton, {}, QPoint(50, 45));
  ASSERT_EQ(press.count(), 1);
  ASSERT_EQ(release.count(), 1);
  EXPECT_EQ(press.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
  EXPECT_EQ(press.at(0).at(1).toPoint(), QPoint(30, 40));
  EXPECT_EQ(release.at(0).at(1).toPoint(), QPoint(50, 45));
}


// On a display where every copy is dear the run shows fewer frames: the
// pacer must see what the copies really cost.
TEST(ScreenPacer, DearCopiesSpaceTheFramesOut) {
  QWidget window;
  auto* canvas = new PictureCanvas(&window);
  canvas->setGeometry(0, 0, 200, 100);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  struct SlowPaint : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) {
        ++paints;
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
      }
      return false;
    }
  } slow;
  canvas->installEventFilter(&slow);
  FramePacer frames(60);
  ScreenPacer pacer(&window, canvas, frames);
  auto frame = [&] {
    canvas->blit();  // held: shown when the pacer says so
    pacer.BeforeEvents();
    pacer.AfterEvents();
  };
  // Copies well apart, each taking at least 4 ms: the pacer learns the cost.
  for (int i = 0; i < 6; ++i) {
    frame();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_GE(slow.paints, 4);
  // A copy of 4 ms may take 1.5% of the time: the next one is due no sooner
  // than about a quarter of a second after the last.
  const int before = slow.paints;
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  frame();
  EXPECT_EQ(slow.paints, before);
}

}  // namespace
}  // namespace qd
