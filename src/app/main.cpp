// Program entry: the three windows in their order, the command-line options
// and the start of the event loop.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPixmap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>

#include "core/persistence/file_io.h"
#include "core/state/sim_state.h"
#include "ui/common/desktop_identity.h"
#include "ui/common/dialogs.h"
#include "ui/editing/edit_dlg.h"
#include "ui/help/about_box.h"
#include "ui/history/history_window.h"
#include "ui/mainform/mainform.h"

namespace {

const char kUsage[] =
    "usage: quindelle [--screenshot FILE.png] [FILE.pln|FILE.qra]\n"
    "       quindelle -h|--help | -v|--version\n"
    "Simulates up to 60 particles under a pairwise interaction law.\n"
    "\n"
    "Options:\n"
    "  -h, --help               Show this help and exit.\n"
    "  -v, --version            Show the version and exit.\n"
    "  --screenshot FILE.png    Start as usual, save a picture of the main\n"
    "                           window to FILE.png after its first paint, exit.\n"
    "\n"
    "FILE.pln                   A configuration to open after start-up.\n"
    "FILE.qra                   A run archive (quindelle-run --archive, Save\n"
    "                           History...) to go on with: its last state and\n"
    "                           choices, its snapshots in the Run History window.\n";

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
  qd::Answer AskYesNoCancel(QWidget*, const QString& text) override {
    Print("question (answered No)", text);
    return qd::Answer::No;
  }
  void Information(QWidget*, const QString& text) override { Print("information", text); }
  void Error(QWidget*, const QString& text) override { Print("error", text); }

 private:
  static void Print(const char* kind, const QString& text) {
    std::fprintf(stderr, "quindelle: %s: %s\n", kind, text.toLocal8Bit().constData());
  }
};

// What the command line asks for.
struct CommandLine {
  QString screenshot;
  QString fileToOpen;
};

// Parses the arguments without the window system, which may be missing
// altogether: a wrong option must still give the usage, not an abort inside
// the toolkit. Returns the exit status when the program is to end here.
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine& line) {
  // The toolkit's own options (-platform offscreen, -style fusion, ...) are
  // left to the toolkit, which takes them out when the application starts.
  static const char* const kToolkitWithValue[] = {
      "-platform",        "-platformpluginpath", "-platformtheme", "-plugin",
      "-qwindowgeometry", "-qwindowicon",        "-qwindowtitle",  "-session",
      "-style",           "-stylesheet",         "-display",       "-geometry"};
  static const char* const kToolkitFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
  auto isOneOf = [](const char* arg, const auto& names) {
    return std::any_of(std::begin(names), std::end(names),
                       [arg](const char* n) { return std::strcmp(arg, n) == 0; });
  };
  QStringList args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && isOneOf(argv[i], kToolkitWithValue) && i + 1 < argc) {
      ++i;
      continue;
    }
    if (i > 0 && isOneOf(argv[i], kToolkitFlags)) continue;
    args << QString::fromLocal8Bit(argv[i]);
  }

  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
  const QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE.png"));
  parser.addOptions({help, version, screenshot});
  parser.addPositionalArgument(QStringLiteral("FILE.pln"), QString());

  if (!parser.parse(args)) {
    // In the words the batch runner and the sweep use.
    QString problem = parser.errorText();
    static const QRegularExpression unknown(QStringLiteral("^Unknown options? (.*)\\.$"));
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
    if (const auto m = unknown.match(problem); m.hasMatch())
      problem = QStringLiteral("unknown option %1").arg(m.captured(1));
    else if (const auto m2 = missing.match(problem); m2.hasMatch())
      problem = QStringLiteral("%1 needs a value").arg(m2.captured(1));
    std::fprintf(stderr, "quindelle: %s\n\n%s", problem.toLocal8Bit().constData(), kUsage);
    return 2;
  }
  if (parser.isSet(help)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("quindelle %s\n", QUINDELLE_VERSION);
    return 0;
  }
  if (parser.isSet(screenshot)) {
    line.screenshot = parser.value(screenshot);
    if (line.screenshot.isEmpty()) {
      std::fprintf(stderr, "quindelle: --screenshot needs a file name\n\n%s", kUsage);
      return 2;
    }
  }
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    // Opening only the first would leave the user wondering about the rest.
    std::fprintf(stderr, "quindelle: only one file, please ('%s' and '%s')\n\n%s",
                 files[0].toLocal8Bit().constData(), files[1].toLocal8Bit().constData(), kUsage);
    return 2;
  }
  if (!files.isEmpty()) line.fileToOpen = files.first();
  if (!line.screenshot.isEmpty() && !line.fileToOpen.isEmpty() &&
      qd::SameFile(QFile::encodeName(line.screenshot).toStdString(),
                   QFile::encodeName(line.fileToOpen).toStdString())) {
    std::fprintf(stderr, "quindelle: the picture would replace the configuration ('%s')\n\n%s",
                 line.fileToOpen.toLocal8Bit().constData(), kUsage);
    return 2;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before any window system is touched.
  CommandLine line;
  if (const std::optional<int> status = ParseCommandLine(argc, argv, line)) return *status;
  const QString& screenshot = line.screenshot;
  const QString& fileToOpen = line.fileToOpen;

  QApplication app(argc, argv);
  // Numbers are shown and read with the user's decimal separator.
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationVersion(QStringLiteral(QUINDELLE_VERSION));
  qd::ApplyDesktopIdentity();

  UnattendedDialogs unattended;
  if (!screenshot.isEmpty()) qd::SetAppDialogs(&unattended);

  // The three designed windows in their order, then the run history; the
  // main window owns the others and is handed them at once.
  // The state outlives the windows that show and edit it.
  const auto state = std::make_unique<qd::SimState>();
  auto* mainForm = new qd::TMainForm(*state);
  auto* editDlg = new qd::TEditDlg(
      *state, [mainForm] { return mainForm->CurrentSignMode(); }, mainForm);
  auto* aboutBox = new qd::TAboutBox(mainForm);
  // Hidden until "Run History" opens it; the main window records either way.
  auto* history = new qd::THistoryWindow(mainForm->CurrentRun(), *mainForm, mainForm);
  mainForm->SetWindows({.editor = editDlg, .about = aboutBox, .history = history});
  mainForm->show();

  if (!fileToOpen.isEmpty()) mainForm->RunHandler([&] { mainForm->OpenFromCommandLine(fileToOpen); });

  if (!screenshot.isEmpty()) {
    int result = 0;
    // Let the first paint happen, then take the picture and leave.
    QTimer::singleShot(300, mainForm, [&] {
      QApplication::processEvents();
      const QPixmap shot = mainForm->grab();
      // Written beside the target and put in place whole, so that a failed
      // write never leaves half a picture where an older one was.
      QSaveFile file(screenshot);
      QImageWriter writer(&file, QFileInfo(screenshot).suffix().toLatin1());
      if (!file.open(QIODevice::WriteOnly) || !writer.write(shot.toImage()) || !file.commit()) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        std::fprintf(stderr, "quindelle: %s: %s\n", screenshot.toLocal8Bit().constData(),
                     why.toLocal8Bit().constData());
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
