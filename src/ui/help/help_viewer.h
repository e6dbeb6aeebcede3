#pragma once
// The built-in help viewer: a plain window with a rich-text browser that shows
// one of the program's HTML help documents, found by its bare file name.
#include <QString>
#include <QStringList>
#include <QWidget>

class QTextBrowser;

namespace qd {

// The application's help file: the one the Help menu chose last (empty until
// the first choice).
QString CurrentHelpFile();
void SetCurrentHelpFile(const QString& name);

// The folders searched for a help document, in order: the folder of the
// executable, then ../share/quindelle relative to it, then the working
// directory.
QStringList HelpSearchDirs();
// Tests stand in another folder for the executable's; an empty string
// restores the real one.
void SetHelpProgramDirForTesting(const QString& dir);
// The full path of the help document `name`, or an empty string when no
// searched folder holds it.
QString FindHelpFile(const QString& name);

class HelpViewer : public QWidget {
  Q_OBJECT
 public:
  explicit HelpViewer(QWidget* parent = nullptr);

  // Shows the document `name` from its top and brings the window forward.
  // When the document cannot be found or read, the window says so instead.
  void ShowContents(const QString& name);

  QTextBrowser* Browser() const { return browser_; }
  QString RequestedFile() const { return requested_; }
  // The file on show; empty when the last request found nothing to show.
  QString ShownPath() const { return shownPath_; }
  int RequestCount() const { return requests_; }

 private:
  QTextBrowser* browser_;
  QString requested_;
  QString shownPath_;
  int requests_ = 0;
};

// The viewer that belongs to `owner`'s window, created there on first use and
// reused afterwards; with no owner, one viewer for the whole process.
HelpViewer* HelpViewerFor(QWidget* owner);

// Makes `name` the application's help file and asks the viewer to show it:
// exactly one request per call.
void ShowHelpFile(QWidget* owner, const QString& name);

}  // namespace qd
