#include "ui/editing/key_filter.h"

#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMouseEvent>

#include "core/editing/number_text.h"

namespace qd {
namespace {

constexpr const char* kFilterName = "qd_numeric_key_filter";

// Keys that move the cursor, delete, change focus or close the dialog. Some
// platforms give them a control character as text, but they type nothing.
// Enter is one of them: a one-line field inserts nothing for it, and the
// dialog's default button must still see the key press.
bool IsNonTypingKey(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
      return true;
    default:
      return false;
  }
}

// The printable characters of `text` that the filter lets through.
QString AcceptedPart(const QString& text) {
  QString kept;
  for (char32_t c : text.toUcs4())
    if (KeyAccepted(c) && c >= 0x20) kept += QString::fromUcs4(&c, 1);
  return kept;
}

class NumericKeyFilter : public QObject {
 public:
  explicit NumericKeyFilter(QLineEdit* field) : QObject(field), field_(field) {
    setObjectName(QString::fromLatin1(kFilterName));
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != field_) return false;
    switch (event->type()) {
      case QEvent::KeyPress:
        return FilterKey(static_cast<QKeyEvent*>(event));
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
        // The middle button pastes the selection on some desktops.
        return static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton;
      case QEvent::InputMethod:
        return FilterComposed(static_cast<QInputMethodEvent*>(event));
      default:
        return false;
    }
  }

 private:
  bool FilterKey(QKeyEvent* e) {
    // The field takes typed characters only: no clipboard through the keyboard.
    if (e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Copy))
      return true;
    if (IsNonTypingKey(e->key())) return false;
    const QString text = e->text();
    if (text.isEmpty()) return false;
    if (e->key() == Qt::Key_Backspace) return !KeyAccepted(8);
    // Control characters (Ctrl+letter) never reach the field.
    if (e->modifiers() & Qt::ControlModifier) return true;
    if (AcceptedPart(text) == text) return false;
    // Several characters in one event: keep only those a number is typed with.
    const QString kept = AcceptedPart(text);
    if (!kept.isEmpty()) field_->insert(kept);
    return true;
  }

  bool FilterComposed(QInputMethodEvent* e) {
    const QString commit = e->commitString();
    if (commit.isEmpty() || AcceptedPart(commit) == commit) return false;
    const QString kept = AcceptedPart(commit);
    if (!kept.isEmpty()) field_->insert(kept);
    return true;
  }

  QLineEdit* field_;
};

}  // namespace

void InstallNumericKeyFilter(QLineEdit* field) {
  if (!field || field->findChild<QObject*>(QString::fromLatin1(kFilterName), Qt::FindDirectChildrenOnly))
    return;
  field->installEventFilter(new NumericKeyFilter(field));
  // Pasting through the context menu or by dropping text is refused too.
  field->setContextMenuPolicy(Qt::NoContextMenu);
  field->setAcceptDrops(false);
}

}  // namespace qd
