// Open, Save, Save As and the command-line open: their step order, so that a
// failure leaves the earlier steps done and the later ones not.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QToolButton>
#include <cmath>
#include <cstring>
#include <functional>

#include "core/editing/number_text.h"
#include "core/structures/structures.h"
#include "tests/ui/commands_fixture.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using CommandsFile = CommandsTest;

SimState Loaded() {
  SimState c = TwoParticles();
  c.Dt = 0.005L;
  c.A1 = 1.5L;
  c.B1 = 2.25L;
  c.F2 = 7;
  c.Present[7] = 2;  // any non-zero byte is kept as it is
  c.X[7] = -3;
  c.UZ[7] = 0.125L;
  c.X[9] = 4;  // an empty slot's values travel too
  c.UY[9] = -1;
  return c;
}

QByteArray RecordOf(SimState s) {
  FillConfigRecord(s);
  return QByteArray(reinterpret_cast<const char*>(s.ConfigRecord.data()), int(s.ConfigRecord.size()));
}

TEST_F(CommandsFile, OpenInstallsTheConfigurationAndRemembersIt) {
  TMainForm& f = Start();  // the spiral
  const SimState config = Loaded();
  const QString path = WriteConfig(config, QStringLiteral("run1.pln"));
  WriteBytes(Folder() + QStringLiteral("/run1.txt"), QByteArray("about run1\r\nline two"));
  state.StepCount = 17;
  f.LTime->setText(QStringLiteral("17"));
  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();

  ASSERT_TRUE(dialogs.errors.empty());
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].filter, QStringLiteral("Taons files (*.pln);;Run archives (*.qra)"));
  EXPECT_EQ(dialogs.fileDialogs[0].defaultSuffix, QStringLiteral("pln"));
  EXPECT_FALSE(state.ImageMode);
  EXPECT_TRUE(f.Go->isEnabled());
  EXPECT_TRUE(f.Null00->isEnabled());
  EXPECT_EQ(state.CurrentName, path.toStdString());  // whole: the commentary name is a copy
  EXPECT_EQ(state.StartFileName, path.toStdString());
  EXPECT_EQ(f.FName->text(), path);
  EXPECT_EQ(ReadBytes(PointerPath()), path.toUtf8());
  EXPECT_EQ(state.StepCount, 0);
  EXPECT_EQ(f.LTime->text(), QStringLiteral("0"));

  SimState expected = config;
  InstallAll(expected);
  ExpectSameSlots(state, expected);
  ExpectSameParameters(state, config);  // Open keeps the file's Dt
  QLineEdit* fields[11] = {f.EditDT, f.EditA1, f.EditB1, f.EditC1, f.EditD1, f.EditF1,
                           f.EditA2, f.EditB2, f.EditC2, f.EditD2, f.EditF2};
  for (int i = 0; i < 11; ++i)
    EXPECT_EQ(fields[i]->text().toStdString(),
              FloatToText(config.*kParameterBlock[i], LocaleDecimalSeparator()))
        << i;
  EXPECT_EQ(f.EditDT->text(), QStringLiteral("0.005"));
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("about run1\nline two"));
  EXPECT_TRUE(state.CommentModified);
  EXPECT_EQ(f.DaonsTable->Cells(1, 7), QStringLiteral("-3"));
}

TEST_F(CommandsFile, CancelledOpenChangesNothing) {
  TMainForm& f = StartWith(Loaded());
  const SimState before = state;
  const QString fname = f.FName->text();
  dialogs.openAnswers.push_back(std::nullopt);
  f.Open1->trigger();
  EXPECT_TRUE(dialogs.errors.empty());
  ExpectSameSlots(state, before);
  EXPECT_EQ(state.CurrentName, before.CurrentName);
  EXPECT_EQ(f.FName->text(), fname);
}

// A failed read: the mode, the buttons and the name are already switched,
// nothing else.
void ExpectFailedReadState(TMainForm& f, const SimState& s, const SimState& before, const QString& path) {
  EXPECT_FALSE(s.ImageMode);
  EXPECT_TRUE(f.Go->isEnabled());
  EXPECT_TRUE(f.Null00->isEnabled());
  EXPECT_EQ(s.CurrentName, path.toStdString());
  EXPECT_EQ(f.FName->text(), path);
  EXPECT_EQ(s.StartFileName, before.StartFileName);
  ExpectSameSlots(s, before);
  ExpectSameParameters(s, before);
}

TEST_F(CommandsFile, MissingOrShortFileLeavesThePartialStateOfAFailedRead) {
  TMainForm& f = Start();  // the spiral: image mode, Go disabled
  const SimState before = state;
  const QByteArray pointer = ReadBytes(PointerPath());
  const QString missing = Folder() + QStringLiteral("/missing.pln");
  const QString shortFile = Folder() + QStringLiteral("/short.pln");
  WriteBytes(shortFile, RecordOf(Loaded()).left(3775));
  f.Comment->setPlainText(QStringLiteral("kept"));
  WriteBytes(Folder() + QStringLiteral("/short.txt"), QByteArray("not loaded"));

  dialogs.openAnswers.push_back(missing);
  f.Open1->trigger();
  EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File not found")}));
  ExpectFailedReadState(f, state, before, missing);
  EXPECT_EQ(ReadBytes(PointerPath()), pointer);
  EXPECT_EQ(f.EditDT->text(), QStringLiteral("0"));

  state.ImageMode = true;
  f.Go->setEnabled(false);
  dialogs.openAnswers.push_back(shortFile);
  f.Open1->trigger();
  EXPECT_EQ(dialogs.errors.back(), QStringLiteral("Read beyond end of file"));
  ExpectFailedReadState(f, state, before, shortFile);
  EXPECT_EQ(ReadBytes(PointerPath()), pointer);
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("kept"));
}

TEST_F(CommandsFile, UnwritableStartPointerLeavesTheRecordReadButNotApplied) {
  TMainForm& f = StartWith(TwoParticles());
  const SimState before = state;
  const SimState config = Loaded();
  const QString path = WriteConfig(config, QStringLiteral("other.pln"));
  // A start-pointer path that cannot be written, even by the superuser.
  QFile::remove(PointerPath());
  ASSERT_TRUE(QDir().mkpath(PointerPath()));
  state.StepCount = 5;

  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();
  EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File access denied")}));
  EXPECT_EQ(state.CurrentName, path.toStdString());
  EXPECT_EQ(state.StartFileName, path.toStdString());
  // Read into the record...
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(state.ConfigRecord.data()), int(kConfigRecordSize)),
            RecordOf(config));
  // ...but not applied, and nothing after it ran.
  ExpectSameSlots(state, before);
  ExpectSameParameters(state, before);
  EXPECT_EQ(state.StepCount, 5);
}

TEST_F(CommandsFile, ReadOnlyStartPointerFolderStopsOpenBeforeApplying) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TMainForm& f = StartWith(TwoParticles());
  const SimState before = state;
  const QString path = WriteConfig(Loaded(), QStringLiteral("other.pln"));
  const QString folder = Folder() + QStringLiteral("/quindelle");
  QFile::setPermissions(PointerPath(), QFileDevice::ReadOwner);
  QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();
  QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File access denied")}));
  EXPECT_EQ(ReadBytes(PointerPath()), startPath.toUtf8());
  ExpectSameSlots(state, before);
}

TEST_F(CommandsFile, ReadOnlyConfigurationOpens) {
  TMainForm& f = Start();
  const QString path = WriteConfig(Loaded(), QStringLiteral("ro.pln"));
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(state.X[7], -3);
}

TEST_F(CommandsFile, OpenReadsOnlyTheFirstRecord) {
  TMainForm& f = Start();
  SimState second = Loaded();
  second.X[7] = 99;
  const QString path = Folder() + QStringLiteral("/two.pln");
  WriteBytes(path, RecordOf(Loaded()) + RecordOf(second));
  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();
  EXPECT_EQ(state.X[7], -3);
  // Saving it over itself leaves one record.
  f.Save1->trigger();
  EXPECT_EQ(QFileInfo(path).size(), qint64(kConfigRecordSize));
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(CommandsFile, SaveWritesTheCommittedStateBitForBitAndTouchesNothingElse) {
  TMainForm& f = Start();
  startPath = WriteConfig(Loaded(), QStringLiteral("saved.pln"));
  dialogs.openAnswers.push_back(startPath);
  f.Open1->trigger();
  const QByteArray pointer = ReadBytes(PointerPath());
  const QByteArray original = ReadBytes(startPath);
  // Unchanged state: the file comes back byte for byte.
  f.Save1->trigger();
  EXPECT_EQ(ReadBytes(startPath), original);

  RunFor(3);
  f.FName->setText(QStringLiteral("shown"));
  f.Save1->trigger();
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(dialogs.fileDialogs.size(), 1u);  // Open's only
  EXPECT_EQ(ReadBytes(startPath), RecordOf(state));
  EXPECT_EQ(QFileInfo(startPath).size(), qint64(kConfigRecordSize));
  EXPECT_EQ(ReadBytes(PointerPath()), pointer);
  EXPECT_EQ(f.FName->text(), QStringLiteral("shown"));

  // Reopening gives back every value exactly.
  const SimState saved = state;
  dialogs.openAnswers.push_back(startPath);
  f.Open1->trigger();
  for (int s = 1; s <= kSlotCount; ++s) {
    EXPECT_EQ(state.X[s], saved.X[s]);
    EXPECT_EQ(state.UX[s], saved.UX[s]);
    EXPECT_EQ(state.Present[s], saved.Present[s]);
  }
}

TEST_F(CommandsFile, SaveAndSaveAsDoNothingInImageMode) {
  TMainForm& f = Start();
  ASSERT_TRUE(state.ImageMode);
  const QString cwdTarget = QDir::current().filePath(QString::fromStdString(state.CurrentName));
  ASSERT_FALSE(QFileInfo::exists(cwdTarget));
  f.Save1->trigger();
  f.Saveas1->trigger();
  EXPECT_FALSE(QFileInfo::exists(cwdTarget));
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(CommandsFile, SaveAsWritesTheChosenFileAndRemembersIt) {
  TMainForm& f = StartWith(Loaded());
  const QString target = Folder() + QStringLiteral("/copy.pln");
  dialogs.saveAnswers.push_back(target);
  f.Saveas1->trigger();
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(ReadBytes(target), RecordOf(state));
  EXPECT_EQ(state.CurrentName, target.toStdString());
  EXPECT_EQ(state.StartFileName, target.toStdString());
  EXPECT_EQ(f.FName->text(), target);
  EXPECT_EQ(ReadBytes(PointerPath()), target.toUtf8());

  // Cancelling changes nothing.
  dialogs.saveAnswers.push_back(std::nullopt);
  f.Saveas1->trigger();
  EXPECT_EQ(state.CurrentName, target.toStdString());
  EXPECT_EQ(ReadBytes(PointerPath()), target.toUtf8());
}

TEST_F(CommandsFile, FailedSaveAsKeepsTheNameButNotThePointer) {
  TMainForm& f = StartWith(Loaded());
  const QByteArray pointer = ReadBytes(PointerPath());
  const QString target = Folder() + QStringLiteral("/no/such/folder/x.pln");
  dialogs.saveAnswers.push_back(target);
  f.Saveas1->trigger();
  EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File not found")}));
  EXPECT_EQ(state.CurrentName, target.toStdString());
  EXPECT_EQ(f.FName->text(), target);
  EXPECT_EQ(state.StartFileName, startPath.toStdString());
  EXPECT_EQ(ReadBytes(PointerPath()), pointer);
}

TEST_F(CommandsFile, SaveAsWithAnUnwritablePointerStillWritesTheConfiguration) {
  TMainForm& f = StartWith(Loaded());
  QFile::remove(PointerPath());
  ASSERT_TRUE(QDir().mkpath(PointerPath()));
  const QString target = Folder() + QStringLiteral("/copy.pln");
  dialogs.saveAnswers.push_back(target);
  f.Saveas1->trigger();
  EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File access denied")}));
  EXPECT_EQ(ReadBytes(target), RecordOf(state));
  EXPECT_EQ(state.StartFileName, target.toStdString());
}

TEST_F(CommandsFile, SaveWithoutAChosenNameAsksForOne) {
  TMainForm& f = StartWith(Loaded());
  // The built-in structures' captions are names, not paths: Save must not
  // write a file called after them into the working folder.
  const QString old = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Folder()));
  for (const std::string name : {"", kEasySquareCaption, kSpiralCaption}) {
    SCOPED_TRACE(name);
    dialogs.fileDialogs.clear();
    state.CurrentName = name;
    // A new file each time: replacing one would add its own question.
    const QString target = Folder() + QStringLiteral("/named%1.pln").arg(name.size());
    dialogs.saveAnswers.push_back(target);
    f.Save1->trigger();
    EXPECT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_EQ(ReadBytes(target), RecordOf(state));
    EXPECT_EQ(ReadBytes(PointerPath()), target.toUtf8());
    if (!name.empty()) {
      EXPECT_FALSE(QFile::exists(QString::fromStdString(name)));
    }
  }
  QDir::setCurrent(old);
}

TEST_F(CommandsFile, CommandLineOpensLikeOpen) {
  TMainForm& f = Start();
  const QString path = WriteConfig(Loaded(), QStringLiteral("cli.pln"));
  // A relative name is remembered as a full path.
  const QString old = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Folder()));
  f.RunHandler([&] { f.OpenFromCommandLine(QStringLiteral("cli.pln")); });
  QDir::setCurrent(old);
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_FALSE(state.ImageMode);
  EXPECT_EQ(state.X[7], -3);
  EXPECT_EQ(ReadBytes(PointerPath()), QFileInfo(path).absoluteFilePath().toUtf8());

  // A bad file gives Open's message and the window goes on.
  f.RunHandler([&] { f.OpenFromCommandLine(Folder() + QStringLiteral("/nothing.pln")); });
  EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File not found")}));
  EXPECT_EQ(state.X[7], -3);
}

TEST_F(CommandsFile, APipeWithNoWriterIsRefusedAtOnceByEveryLoad) {
  // Should a load wait on the pipe, the alarm ends the test run instead of
  // letting it hang.
  ::alarm(20);
  const QString pipe = Folder() + QStringLiteral("/pipe.pln");
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  TMainForm& f = StartWith(TwoParticles());
  const std::function<void()> loads[] = {
      [&] {
        dialogs.openAnswers.push_back(pipe);
        f.Open1->trigger();
      },
      [&] { f.RunHandler([&] { f.OpenFromCommandLine(pipe); }); },
  };
  for (const auto& load : loads) {
    dialogs.errors.clear();
    load();
    EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File access denied")}));
  }
  // Taons treats it as a file that does not open: the easy square.
  dialogs.errors.clear();
  WritePointer(QFile::encodeName(pipe));
  f.Daons1->trigger();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_NEAR(double(std::fabs(state.X[2])), 0.212, 1e-12);
  EXPECT_EQ(state.F1, 20);
  ::alarm(0);
}

}  // namespace
}  // namespace qd
