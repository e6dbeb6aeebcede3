// The Run History window's outputs: the snapshots as the runner's table, as
// extended XYZ frames and as a run archive, never over a file they came from.
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include "core/history/history_archive.h"
#include "core/history/run_history.h"
#include "core/persistence/file_io.h"
#include "core/persistence/xyz.h"
#include "core/run/run.h"
#include "ui/common/dialogs.h"
#include "ui/history/history_window.h"

namespace qd {

std::optional<std::string> THistoryWindow::ChooseOutput(const QString& filter, const QString& suffix,
                                                        const QString& refusal) {
  FileDialogSpec request;
  request.filter = filter;
  request.defaultSuffix = suffix;
  const std::optional<QString> chosen = ChooseSavePath(this, request);
  if (!chosen) return std::nullopt;
  // Never in the place of a file the snapshots came from: the configuration
  // the run started on, or the archive the history was read from (which
  // holds snapshots the history may have left out).
  const std::string path = QFile::encodeName(*chosen).toStdString();
  const std::string config = host_.ConfigurationName();
  if (!config.empty() && SameFile(path, config)) {
    AppDialogs().Error(this, refusal.arg(QStringLiteral("configuration file")));
    return std::nullopt;
  }
  const std::string archive = run_.History().Source().path;
  if (!archive.empty() && SameFile(path, archive)) {
    AppDialogs().Error(this, refusal.arg(QStringLiteral("run archive")));
    return std::nullopt;
  }
  return path;
}

void THistoryWindow::ExportClick() {
  const RunHistory& h = run_.History();
  if (h.Empty()) return;
  const auto path = ChooseOutput(QStringLiteral("CSV files (*.csv)"), QStringLiteral("csv"),
                                 QStringLiteral("The table cannot replace the %1 it was made from."));
  if (!path) return;
  const std::string text = HistoryCsv(h);
  WriteFileSafely(*path, text.data(), text.size());
}

void THistoryWindow::ExportXyzClick() {
  const RunHistory& h = run_.History();
  if (h.Empty()) return;
  const auto path = ChooseOutput(QStringLiteral("Extended XYZ files (*.xyz)"), QStringLiteral("xyz"),
                                 QStringLiteral("The frames cannot replace the %1 they were made from."));
  if (!path) return;
  const std::string text = HistoryXyz(h, run_.Options().walls);
  WriteFileSafely(*path, text.data(), text.size());
}

void THistoryWindow::SaveClick() {
  const RunHistory& h = run_.History();
  if (h.Empty()) return;
  const HistorySource& from = h.Source();
  if (from.Thinned()) {
    // What the window shows is not the archive: say so before writing less.
    const QLocale locale = QLocale::system();
    const QString question =
        QStringLiteral(
            "The history holds %1 of the %2 snapshots of %3, the archive it was opened from; Save "
            "History writes only those. Save them?")
            .arg(locale.toString(qulonglong(from.indices.size())), locale.toString(qulonglong(from.Span())),
                 QFileInfo(QFile::decodeName(QByteArray::fromStdString(from.path))).fileName());
    if (!AppDialogs().AskYesNo(this, question)) return;
  }
  const auto path = ChooseOutput(QStringLiteral("Run archives (*.qra)"), QStringLiteral("qra"),
                                 QStringLiteral("The archive cannot replace the %1 it was made from."));
  if (path) SaveHistoryArchive(h, run_.Options(), *path);
}

}  // namespace qd
