// The main window's own events: keys that come before its fields' editing,
// leaving a field, resizing and exposing.
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QWindow>
#include <algorithm>

#include "ui/mainform/form_widgets.h"
#include "ui/mainform/mainform.h"
#include "ui/view/picture_canvas.h"

namespace qd {

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // The window's shortcuts come before the editing keys of its fields, as
    // the users know from the older program: Ctrl+arrows shift the picture
    // even while a field has the focus.
    auto* key = static_cast<QKeyEvent*>(event);
    const bool arrow = key->key() == Qt::Key_Left || key->key() == Qt::Key_Right ||
                       key->key() == Qt::Key_Up || key->key() == Qt::Key_Down;
    if (arrow && key->modifiers() == Qt::ControlModifier) return true;
  }
  if (event->type() == QEvent::FocusOut && (watched == EditDT || watched == Comment)) {
    // Only a move of the focus to another control of this window counts as
    // leaving the field; switching windows or opening a menu does not.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      if (watched == EditDT) {
        RunHandler([this] { EditDTExit(); });
      } else {
        RunHandler([this] { CommentExit(); });
      }
    }
  } else if (watched == centralWidget() && event->type() == QEvent::Resize) {
    LayoutClient();
    RunHandler([this] { FormResize(); });
    RequestFormPaint();
  } else if (watched == windowHandle() && event->type() == QEvent::Expose) {
    if (windowHandle()->isExposed()) RequestFormPaint();
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!exposeFilterInstalled_ && windowHandle()) {
    windowHandle()->installEventFilter(this);
    exposeFilterInstalled_ = true;
  }
}

void TMainForm::LayoutClient() {
  // Pan keeps its height and sticks to the bottom; the picture fills the rest.
  QWidget* client = centralWidget();
  if (!client || !Pan || !Canvas) return;
  const int w = client->width();
  const int h = client->height();
  Pan->setGeometry(0, h - Pan->height(), w, Pan->height());
  Canvas->setGeometry(0, 0, w, std::max(0, Pan->y()));
}

}  // namespace qd
