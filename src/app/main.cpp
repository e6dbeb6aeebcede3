// Program entry: the three windows in their order, the command-line options
// and the start of the event loop.
#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "core/state/sim_state.h"
#include "ui/common/desktop_identity.h"
#include "ui/common/dialogs.h"
#include "ui/editing/edit_dlg.h"
#include "ui/help/about_box.h"
#include "ui/history/history_window.h"
#include "ui/mainform/mainform.h"

namespace {

// The whole simulation state lives as long as the process.
qd::SimState g_state;

const char kUsage[] =
    "Usage: quindelle [options] [FILE.pln]\n"
    "Simulates up to 60 particles under a pairwise interaction law.\n"
    "\n"
    "Options:\n"
    "  -h, --help               Show this help and exit.\n"
    "  -v, --version            Show the version and exit.\n"
    "  --screenshot FILE.png    Start as usual, save a picture of the main\n"
    "                           window to FILE.png after its first paint, exit.\n"
    "\n"
    "FILE.pln                   A configuration to open after start-up.\n";

// A screenshot run has nobody to answer a dialog: messages go to stderr and
// every question is declined, so the run always ends.
class UnattendedDialogs : public qd::Dialogs {
 public:
  std::optional<QString> OpenFile(QWidget*, const qd::FileDialogSpec&) override { return std::nullopt; }
  std::optional<QString> SaveFile(QWidget*, const qd::FileDialogSpec&) override { return std::nullopt; }
  bool AskYesNo(QWidget*, const QString& text) override {
    Print("question (answered No)", text);
    return false;
  }
  void Information(QWidget*, const QString& text) override { Print("information", text); }
  void Error(QWidget*, const QString& text) override { Print("error", text); }

 private:
  static void Print(const char* kind, const QString& text) {
    std::fprintf(stderr, "quindelle: %s: %s\n", kind, text.toLocal8Bit().constData());
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Answered before any window system is touched.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
      std::printf("quindelle %s\n", QUINDELLE_VERSION);
      return 0;
    }
  }

  QApplication app(argc, argv);
  // Numbers are shown and read with the user's decimal separator.
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName(QStringLiteral("Pellarin"));
  QApplication::setApplicationVersion(QStringLiteral(QUINDELLE_VERSION));
  qd::ApplyDesktopIdentity();

  QString screenshot;
  QString fileToOpen;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--screenshot")) {
      if (i + 1 >= args.size()) {
        std::fputs("quindelle: --screenshot needs a file name\n", stderr);
        return 2;
      }
      screenshot = args[++i];
    } else if (args[i].startsWith(QLatin1String("--screenshot="))) {
      screenshot = args[i].mid(int(std::strlen("--screenshot=")));
    } else if (args[i].startsWith(QLatin1Char('-'))) {
      std::fprintf(stderr, "quindelle: unknown option %s\n%s", args[i].toLocal8Bit().constData(), kUsage);
      return 2;
    } else if (fileToOpen.isEmpty()) {
      fileToOpen = args[i];
    }
  }

  UnattendedDialogs unattended;
  if (!screenshot.isEmpty()) qd::SetAppDialogs(&unattended);

  // The three designed windows in their order, then the run history; the
  // main window owns the others and is handed them at once.
  auto* mainForm = new qd::TMainForm(g_state);
  auto* editDlg = new qd::TEditDlg(
      g_state, [mainForm] { return mainForm->CurrentSignMode(); }, mainForm);
  auto* aboutBox = new qd::TAboutBox(mainForm);
  // Hidden until "Run History" opens it; the main window records either way.
  auto* history = new qd::THistoryWindow(*mainForm, mainForm);
  mainForm->SetWindows({.editor = editDlg, .about = aboutBox, .history = history});
  mainForm->show();

  if (!fileToOpen.isEmpty()) mainForm->RunHandler([&] { mainForm->OpenFromCommandLine(fileToOpen); });

  if (!screenshot.isEmpty()) {
    int result = 0;
    // Let the first paint happen, then take the picture and leave.
    QTimer::singleShot(300, mainForm, [&] {
      QApplication::processEvents();
      const QPixmap shot = mainForm->grab();
      if (!shot.save(screenshot)) {
        std::fprintf(stderr, "quindelle: cannot write %s\n", screenshot.toLocal8Bit().constData());
        result = 1;
      }
      QApplication::exit(result);
    });
    app.exec();
    delete mainForm;
    qd::SetAppDialogs(nullptr);
    return result;
  }

  const int rc = app.exec();
  delete mainForm;
  return rc;
}
