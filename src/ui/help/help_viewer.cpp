#include "ui/help/help_viewer.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace qd {

namespace {

QString& HelpFileSetting() {
  static QString name;
  return name;
}

QString& ProgramDirOverride() {
  static QString dir;
  return dir;
}

const QString kViewerName = QStringLiteral("HelpViewer");

}  // namespace

QString CurrentHelpFile() { return HelpFileSetting(); }

void SetCurrentHelpFile(const QString& name) { HelpFileSetting() = name; }

void SetHelpProgramDirForTesting(const QString& dir) { ProgramDirOverride() = dir; }

QStringList HelpSearchDirs() {
  const QString programDir =
      ProgramDirOverride().isEmpty() ? QCoreApplication::applicationDirPath() : ProgramDirOverride();
  // Beside the executable is where the build tree and a portable copy keep
  // the documents; an installed program finds them in the data folder of its
  // own prefix, wherever that prefix is.
  const QString dataDir =
      programDir.isEmpty() ? QString() : QDir::cleanPath(programDir + QStringLiteral("/../share/quindelle"));
  return {programDir, dataDir, QDir::currentPath()};
}

QString FindHelpFile(const QString& name) {
  // A help name is a bare file name; anything with a folder in it is not one
  // of ours and must not reach outside the searched folders.
  if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
      name == QLatin1String(".."))
    return {};
  for (const QString& dir : HelpSearchDirs()) {
    if (dir.isEmpty()) continue;
    const QFileInfo info(QDir(dir), name);
    if (info.isFile()) return info.absoluteFilePath();
  }
  return {};
}

HelpViewer::HelpViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(kViewerName);
  setWindowTitle(QStringLiteral("Help"));
  // An open help window must not keep the program alive after the main
  // window has closed.
  setAttribute(Qt::WA_QuitOnClose, false);
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  browser_->setOpenExternalLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  resize(640, 560);
  // Closed as any reading window is, from the keyboard too.
  auto* closeAction = new QAction(this);
  closeAction->setObjectName(QStringLiteral("CloseHelp"));
  closeAction->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)});
  closeAction->setShortcutContext(Qt::WindowShortcut);
  connect(closeAction, &QAction::triggered, this, &QWidget::close);
  addAction(closeAction);
}

void HelpViewer::ShowContents(const QString& name) {
  ++requests_;
  requested_ = name;
  shownPath_.clear();

  const QString path = FindHelpFile(name);
  QFile file(path);
  if (path.isEmpty()) {
    browser_->setPlainText(QStringLiteral("Cannot find the help file \"%1\".").arg(name));
    setWindowTitle(QStringLiteral("Help"));
  } else if (!file.open(QIODevice::ReadOnly)) {
    browser_->setPlainText(QStringLiteral("Cannot read the help file \"%1\".").arg(name));
    setWindowTitle(QStringLiteral("Help"));
  } else {
    const QByteArray bytes = file.readAll();
    // The documents declare their encoding; without a declaration, UTF-8.
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    const QString html = decoder.isValid() ? decoder.decode(bytes) : QString::fromUtf8(bytes);
    browser_->setSearchPaths({QFileInfo(path).absolutePath()});
    browser_->document()->setMetaInformation(QTextDocument::DocumentUrl,
                                             QUrl::fromLocalFile(path).toString());
    browser_->setHtml(html);
    shownPath_ = path;
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Help") : title);
  }
  // Every request opens the document at its top, whatever was read before.
  browser_->moveCursor(QTextCursor::Start);
  browser_->verticalScrollBar()->setValue(0);
  browser_->horizontalScrollBar()->setValue(0);

  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

HelpViewer* HelpViewerFor(QWidget* owner) {
  if (owner == nullptr) {
    static QPointer<HelpViewer> shared;
    if (shared.isNull()) shared = new HelpViewer(nullptr);
    return shared.data();
  }
  QWidget* window = owner->window();
  auto* viewer = window->findChild<HelpViewer*>(kViewerName, Qt::FindDirectChildrenOnly);
  if (viewer == nullptr) viewer = new HelpViewer(window);
  return viewer;
}

void ShowHelpFile(QWidget* owner, const QString& name) {
  SetCurrentHelpFile(name);
  HelpViewerFor(owner)->ShowContents(CurrentHelpFile());
}

}  // namespace qd
