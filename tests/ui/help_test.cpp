// The help viewer, the three help documents and the About box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include "ui/help/about_box.h"
#include "ui/help/help_viewer.h"

namespace qd {
namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray Html(const QString& title, const QString& body) {
  return QStringLiteral(
             "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
             "<body>%2</body></html>")
      .arg(title, body)
      .toUtf8();
}

// Each test gets an empty stand-in for an installation prefix, whose bin/
// holds the executable, and an empty working directory, so that which file is
// found depends only on the test.
class HelpViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(prefix_.isValid());
    ASSERT_TRUE(workDir_.isValid());
    ASSERT_TRUE(QDir(prefix_.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QDir(prefix_.path()).mkpath(QStringLiteral("share/quindelle")));
    oldCwd_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workDir_.path()));
    SetHelpProgramDirForTesting(prefix_.filePath(QStringLiteral("bin")));
  }
  void TearDown() override {
    SetHelpProgramDirForTesting(QString());
    QDir::setCurrent(oldCwd_);
  }
  QString InProgramDir(const QString& name) const { return prefix_.filePath(QStringLiteral("bin/") + name); }
  QString InDataDir(const QString& name) const {
    return prefix_.filePath(QStringLiteral("share/quindelle/") + name);
  }
  QString InWorkDir(const QString& name) const { return workDir_.filePath(name); }

  QTemporaryDir prefix_, workDir_;
  QString oldCwd_;
};

TEST_F(HelpViewerTest, LooksBesideTheProgramThenInTheDataFolderThenInTheWorkingDirectory) {
  const QString name = QStringLiteral("DovURERuz.hlp");
  WriteFile(InWorkDir(name), Html(QStringLiteral("Working"), QStringLiteral("from cwd")));
  EXPECT_EQ(FindHelpFile(name), QFileInfo(InWorkDir(name)).absoluteFilePath());

  WriteFile(InDataDir(name), Html(QStringLiteral("Installed"), QStringLiteral("from share")));
  EXPECT_EQ(FindHelpFile(name), QFileInfo(InDataDir(name)).absoluteFilePath());

  WriteFile(InProgramDir(name), Html(QStringLiteral("Beside"), QStringLiteral("beside exe")));
  EXPECT_EQ(FindHelpFile(name), QFileInfo(InProgramDir(name)).absoluteFilePath());

  HelpViewer viewer;
  viewer.ShowContents(name);
  EXPECT_TRUE(viewer.Browser()->toPlainText().contains(QStringLiteral("beside exe")));
  EXPECT_EQ(viewer.windowTitle(), QStringLiteral("Beside"));
  EXPECT_EQ(viewer.ShownPath(), QFileInfo(InProgramDir(name)).absoluteFilePath());

  // The data folder is found from the program's own folder, not from a fixed prefix.
  QFile::remove(InProgramDir(name));
  viewer.ShowContents(name);
  EXPECT_EQ(viewer.ShownPath(), QFileInfo(InDataDir(name)).absoluteFilePath());
  EXPECT_TRUE(viewer.Browser()->toPlainText().contains(QStringLiteral("from share")));
}

TEST_F(HelpViewerTest, FindsTheDocumentInTheWorkingDirectoryAlone) {
  const QString name = QStringLiteral("VadARUDar.HLP");
  WriteFile(InWorkDir(name), Html(QStringLiteral("Pomoc"), QStringLiteral("Zażółć gęślą jaźń")));
  HelpViewer viewer;
  viewer.ShowContents(name);
  EXPECT_TRUE(viewer.isVisible());
  EXPECT_EQ(viewer.ShownPath(), QFileInfo(InWorkDir(name)).absoluteFilePath());
  // Decoded as the UTF-8 it declares, not as Latin-1.
  EXPECT_TRUE(viewer.Browser()->toPlainText().contains(QStringLiteral("Zażółć gęślą jaźń")));
}

TEST_F(HelpViewerTest, MissingDocumentIsReportedInTheViewersOwnWindow) {
  HelpViewer viewer;
  viewer.ShowContents(QStringLiteral("DovADEDud.HLP"));
  EXPECT_TRUE(viewer.isVisible());
  EXPECT_EQ(viewer.Browser()->toPlainText(), QStringLiteral("Cannot find the help file \"DovADEDud.HLP\"."));
  EXPECT_TRUE(viewer.ShownPath().isEmpty());
  EXPECT_EQ(viewer.RequestCount(), 1);

  // The letter case of the name matters: a differently cased file is another file.
  WriteFile(InProgramDir(QStringLiteral("dovadedud.hlp")), Html(QStringLiteral("x"), "x"));
  viewer.ShowContents(QStringLiteral("DovADEDud.HLP"));
  EXPECT_TRUE(viewer.Browser()->toPlainText().startsWith(QStringLiteral("Cannot find")));
}

TEST_F(HelpViewerTest, NamesWithAFolderAreNotLookedUp) {
  QDir(workDir_.path()).mkdir(QStringLiteral("sub"));
  WriteFile(InWorkDir(QStringLiteral("sub/a.hlp")), Html(QStringLiteral("a"), "a"));
  EXPECT_TRUE(FindHelpFile(QStringLiteral("sub/a.hlp")).isEmpty());
  EXPECT_TRUE(FindHelpFile(QStringLiteral("..")).isEmpty());
  EXPECT_TRUE(FindHelpFile(QString()).isEmpty());
  // A folder that carries the name is not a document.
  QDir(workDir_.path()).mkdir(QStringLiteral("x.hlp"));
  EXPECT_TRUE(FindHelpFile(QStringLiteral("x.hlp")).isEmpty());
}

TEST_F(HelpViewerTest, UnreadableDocumentSaysSoAndShowsNothingElse) {
  const QString name = QStringLiteral("DovURERuz.hlp");
  WriteFile(InProgramDir(name), Html(QStringLiteral("t"), QStringLiteral("secret")));
  QFile::setPermissions(InProgramDir(name), QFileDevice::Permissions());
  QFile probe(InProgramDir(name));
  if (probe.open(QIODevice::ReadOnly)) GTEST_SKIP() << "running with rights that read anything";
  HelpViewer viewer;
  viewer.ShowContents(name);
  EXPECT_EQ(viewer.Browser()->toPlainText(), QStringLiteral("Cannot read the help file \"DovURERuz.hlp\"."));
  EXPECT_TRUE(viewer.ShownPath().isEmpty());
}

TEST_F(HelpViewerTest, EveryRequestOpensAtTheTopAndReusesTheWindow) {
  QString body;
  for (int i = 0; i < 400; ++i) body += QStringLiteral("<p>line %1</p>").arg(i);
  body += QStringLiteral("<p><a name=\"end\">the end</a></p>");
  WriteFile(InProgramDir(QStringLiteral("long.hlp")), Html(QStringLiteral("Long"), body));

  QWidget owner;
  HelpViewer* viewer = HelpViewerFor(&owner);
  ASSERT_EQ(HelpViewerFor(&owner), viewer);
  viewer->ShowContents(QStringLiteral("long.hlp"));
  QScrollBar* bar = viewer->Browser()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  // An anchor inside the document scrolls without reloading it.
  viewer->Browser()->setSource(QUrl(QStringLiteral("#end")));
  EXPECT_GT(bar->value(), 0);
  EXPECT_TRUE(viewer->Browser()->toPlainText().contains(QStringLiteral("line 0")));

  viewer->ShowContents(QStringLiteral("long.hlp"));
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(viewer->RequestCount(), 2);
  EXPECT_EQ(owner.findChildren<HelpViewer*>().size(), 1);
}

TEST_F(HelpViewerTest, TheLastChoiceIsTheApplicationsHelpFile) {
  WriteFile(InProgramDir(QStringLiteral("DovURERuz.hlp")),
            Html(QStringLiteral("English"), QStringLiteral("Welcome")));
  WriteFile(InProgramDir(QStringLiteral("DovADEDud.HLP")),
            Html(QStringLiteral("Русский"), QStringLiteral("Добро пожаловать")));
  QWidget owner;
  ShowHelpFile(&owner, QStringLiteral("DovURERuz.hlp"));
  HelpViewer* viewer = HelpViewerFor(&owner);
  EXPECT_EQ(viewer->RequestCount(), 1);
  EXPECT_EQ(CurrentHelpFile(), QStringLiteral("DovURERuz.hlp"));

  ShowHelpFile(&owner, QStringLiteral("DovADEDud.HLP"));
  EXPECT_EQ(viewer->RequestCount(), 2);
  EXPECT_EQ(CurrentHelpFile(), QStringLiteral("DovADEDud.HLP"));
  EXPECT_EQ(viewer->RequestedFile(), QStringLiteral("DovADEDud.HLP"));
  EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Русский"));
  EXPECT_TRUE(viewer->Browser()->toPlainText().contains(QStringLiteral("Добро пожаловать")));
  EXPECT_FALSE(viewer->Browser()->toPlainText().contains(QStringLiteral("Welcome")));
}

// ---- the documents as shipped ---------------------------------------------

struct Document {
  const char* name;
  const char* lang;
  const char* sample;  // a word that only a properly decoded text of its language holds
};

const Document kDocuments[] = {
    {"DovURERuz.hlp", "en", "configuration"},
    {"DovADEDud.HLP", "ru", "конфигурац"},
    {"VadARUDar.HLP", "pl", "cząstk"},
};

// The build copies the documents beside the executables; a build of this test
// alone has them only in the source tree.
QString ShippedDocument(const QString& name) {
  const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
  if (QFileInfo(beside).isFile()) return beside;
  return QDir(QStringLiteral(QUINDELLE_SOURCE_DIR "/help")).filePath(name);
}

TEST(HelpDocuments, ExistAndReadAsDocumentsOfTheirLanguage) {
  for (const Document& doc : kDocuments) {
    SCOPED_TRACE(doc.name);
    QFile f(ShippedDocument(QString::fromLatin1(doc.name)));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    const QByteArray bytes = f.readAll();
    const QString source = QString::fromUtf8(bytes);
    EXPECT_TRUE(source.contains(QStringLiteral("<meta charset=\"utf-8\">"), Qt::CaseInsensitive));
    EXPECT_TRUE(source.contains(QStringLiteral("lang=\"%1\"").arg(QLatin1String(doc.lang))));

    QTextDocument html;
    html.setHtml(source);
    EXPECT_FALSE(html.metaInformation(QTextDocument::DocumentTitle).trimmed().isEmpty());
    const QString text = html.toPlainText();
    EXPECT_GT(text.size(), 8000);
    EXPECT_TRUE(text.contains(QString::fromUtf8(doc.sample), Qt::CaseInsensitive));
    // Every shortcut of the menus, the start-pointer file and the batch runner.
    for (const char* key : {"F1",          "Ctrl+F1",    "Shift+F1",   "F2",
                            "F3",          "Ctrl+S",     "Alt+X",      "F5",
                            "F6",          "F7",         "F8",         "F9",
                            "Run History", "Ctrl+",      "Start.pln3", "quindelle-run",
                            "Gravoscope",  "Taoscope",   "Blockade",   "Cooler",
                            "Heater",      "Thermos3X3", "DUDI"}) {
      EXPECT_TRUE(text.contains(QLatin1String(key))) << key;
    }
    for (const char* key : {"quindelle-sweep", "--set", "--summary", "--threads", "Alt+S", "Second kind", "drop-cdf"})
      EXPECT_TRUE(text.contains(QLatin1String(key))) << key;
    // The raw file is balanced enough for any viewer: every opened section closes.
    for (const char* tag : {"html", "head", "body", "table", "ul"}) {
      const QString open = QStringLiteral("<%1").arg(QLatin1String(tag));
      const QString close = QStringLiteral("</%1>").arg(QLatin1String(tag));
      EXPECT_EQ(source.count(open + QLatin1Char('>')) + source.count(open + QLatin1Char(' ')),
                source.count(close))
          << tag;
    }
  }
}

// The package check extracts the Debian package and names the extracted
// program's folder here: the documents must be where the viewer looks, each
// the same as shipped, and none may depend on the working directory.
TEST(HelpDocuments, FoundWhereTheViewerLooksInAnInstalledTree) {
  const QString binDir = qEnvironmentVariable("QD_INSTALLED_BIN_DIR");
  if (binDir.isEmpty()) GTEST_SKIP() << "only run by the package check";
  QTemporaryDir emptyCwd;
  const QString oldCwd = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(emptyCwd.path()));
  SetHelpProgramDirForTesting(binDir);
  const auto restore = qScopeGuard([&] {
    SetHelpProgramDirForTesting(QString());
    QDir::setCurrent(oldCwd);
  });
  for (const Document& doc : kDocuments) {
    const QString name = QString::fromLatin1(doc.name);
    SCOPED_TRACE(doc.name);
    const QString found = FindHelpFile(name);
    ASSERT_FALSE(found.isEmpty());
    EXPECT_FALSE(found.startsWith(QDir(binDir).absolutePath() + QLatin1Char('/')));
    QFile installed(found), shipped(ShippedDocument(name));
    ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_EQ(installed.readAll(), shipped.readAll());
    HelpViewer viewer;
    viewer.ShowContents(name);
    EXPECT_EQ(viewer.ShownPath(), found);
  }
}

// ---- the About box ----------------------------------------------------------

TEST(AboutBox, DesignedLayoutAndTexts) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(box.size(), QSize(343, 222));
  EXPECT_TRUE(box.isModal());
  ASSERT_EQ(box.findChild<QPushButton*>(QStringLiteral("OKButton")), box.OKButton);
  EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
  EXPECT_TRUE(box.OKButton->isDefault());
  EXPECT_EQ(box.ProductName->text(), QStringLiteral("Quindelle"));
  EXPECT_FALSE(box.Comments->text().isEmpty());
  EXPECT_EQ(box.Version->text(), QStringLiteral("Version " QUINDELLE_VERSION));
  EXPECT_TRUE(box.Licence->text().contains(QStringLiteral("GNU General Public License, version 3 or later")));
  // The labels sit on the panel, one under the other, each with room for its
  // text, and the button below the panel.
  const QList<QLabel*> labels{box.ProductName, box.Comments, box.Version, box.Licence};
  for (int i = 0; i < labels.size(); ++i) {
    QLabel* label = labels[i];
    EXPECT_EQ(label->parentWidget(), box.Panel1);
    EXPECT_TRUE(box.Panel1->rect().contains(label->geometry()));
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->objectName().toStdString();
    if (i > 0) {
      EXPECT_GE(label->y(), labels[i - 1]->geometry().bottom()) << label->objectName().toStdString();
    }
  }
  EXPECT_GE(box.OKButton->geometry().top(), box.Panel1->geometry().bottom());
  EXPECT_TRUE(box.rect().contains(box.OKButton->geometry()));
}

TEST(AboutBox, RunsModallyAndOkClosesIt) {
  TAboutBox box;
  bool sawModal = false;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    sawModal = modal == &box && box.isVisible();
    box.OKButton->click();
  });
  // A safety net: a box that does not close must not hang the suite.
  QTimer::singleShot(5000, &box, &QDialog::reject);
  EXPECT_EQ(box.exec(), QDialog::Accepted);
  EXPECT_TRUE(sawModal);
  EXPECT_FALSE(box.isVisible());
}

}  // namespace
}  // namespace qd
