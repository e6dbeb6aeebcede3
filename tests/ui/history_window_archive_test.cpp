// The Run History window and run archives: Save History, an archive of the
// runner opened and continued, one too large for the history shown thinned
// and never written over, and damaged ones refused without a change.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <memory>

#include "core/batch/batch_run.h"
#include "core/common/errors.h"
#include "core/persistence/run_archive.h"
#include "tests/core/archive_craft.h"
#include "tests/ui/history_fixture.h"

namespace qd {
namespace {

// Save History writes what the runner's archive holds: every recorded
// snapshot, bit for bit, with the run's choices; never over the
// configuration the run came from.
TEST_F(HistoryWindow, SaveHistoryWritesTheSnapshotsAsARunArchive) {
  TMainForm& f = StartWith(WallCloud());
  THistoryWindow& w = Open(f);
  f.Thermos3X3->setChecked(true);
  f.Warm->setChecked(true);
  RunFor(30);
  w.Refresh();
  ASSERT_TRUE(w.SaveButton->isEnabled());
  const QString path = Folder() + QStringLiteral("/run.qra");
  dialogs.saveAnswers.push_back(path);
  w.SaveButton->click();
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(dialogs.fileDialogs.back().defaultSuffix, QStringLiteral("qra"));
  const RunHistory& h = f.History();
  archive::Reader r(path.toStdString());
  ASSERT_EQ(r.Count(), h.Size());
  EXPECT_FALSE(r.TornTail());
  EXPECT_EQ(r.Options().walls, Walls::Thermos3X3);
  EXPECT_TRUE(r.Options().heater);
  for (std::size_t i = 0; i < h.Size(); ++i) {
    const archive::Entry e = r.At(i);
    EXPECT_EQ(e.step, h.At(i).State.StepCount);
    EXPECT_EQ(archive::EncodeRecord({e.step, e.options, h.At(i).State, {}}), archive::EncodeRecord(e)) << i;
  }

  const QByteArray config = ReadBytes(startPath);
  dialogs.saveAnswers.push_back(startPath);
  dialogs.yesNoAnswers.push_back(true);  // "replace it?" Yes: still refused
  w.SaveButton->click();
  EXPECT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(ReadBytes(startPath), config);
}

// An archive of quindelle-run opened in the window: its last state and
// choices installed, its snapshots in the history; continuing from one of
// them is the runner's run of as many steps.
TEST_F(HistoryWindow, AnOpenedArchiveGoesOnAsTheRunnersRun) {
  TMainForm& f = StartWith(WallCloud());
  THistoryWindow& w = Open(f);
  batch::Options o;
  o.in = startPath.toStdString();
  o.steps = 60;
  o.step.force.formula = Formula::PE;
  o.step.walls = Walls::Thermos3X3;
  o.step.cooler = true;
  o.step.blockade = true;
  o.archive = (Folder() + QStringLiteral("/runner.qra")).toStdString();
  o.archiveEvery = 20;
  auto end = std::make_unique<SimState>();
  ASSERT_EQ(batch::Run(o, *end).status, batch::kDone);

  const struct {
    const char* how;
    std::function<void()> open;
  } ways[] = {
      {"File > Open",
       [&] {
         dialogs.openAnswers.push_back(QString::fromStdString(o.archive));
         f.Open1->trigger();
       }},
      {"command line",
       [&] { f.RunHandler([&] { f.OpenFromCommandLine(QString::fromStdString(o.archive)); }); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.how);
    f.Exponential->setChecked(true);
    f.Thermosout->setChecked(true);
    f.Cool->setChecked(false);
    way.open();
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front().toStdString();
    EXPECT_TRUE(w.isVisible());
    const RunHistory& h = f.History();
    ASSERT_EQ(h.Size(), 4u);  // steps 0, 20, 40, 60
    EXPECT_EQ(state.StepCount, 60);
    EXPECT_EQ(f.LTime->text(), QStringLiteral("60"));
    EXPECT_TRUE(f.PolyExpon->isChecked());
    EXPECT_TRUE(f.Thermos3X3->isChecked());
    EXPECT_TRUE(f.Cool->isChecked());
    EXPECT_TRUE(f.Blockade->isChecked());
    EXPECT_EQ(f.FName->text().toStdString(), o.archive);
    EXPECT_EQ(state.CurrentName, "");  // Save asks for a configuration's name
    EXPECT_EQ(w.Timeline->maximum(), 3);
  }

  // From step 20, 15 more steps: the runner's 35.
  w.Refresh();
  w.Timeline->setValue(1);
  ASSERT_TRUE(w.ContinueButton->isEnabled());
  w.ContinueButton->click();
  EXPECT_EQ(state.StepCount, 20);
  RunFor(15);
  dialogs.saveAnswers.push_back(Folder() + QStringLiteral("/continued.pln"));
  f.Save1Click();
  batch::Options straight = o;
  straight.steps = 35;
  straight.archive.clear();
  straight.out = (Folder() + QStringLiteral("/straight.pln")).toStdString();
  ASSERT_EQ(batch::Run(straight, *end).status, batch::kDone);
  EXPECT_EQ(ReadBytes(Folder() + QStringLiteral("/continued.pln")),
            ReadBytes(Folder() + QStringLiteral("/straight.pln")));
  EXPECT_TRUE(dialogs.errors.empty());
}

// An archive larger than the history is shown thinned evenly over the whole
// run, and the window says so; Save History asks before writing only those
// snapshots, and no output replaces the archive the history came from.
TEST_F(HistoryWindow, AThinnedArchiveIsToldAndNothingReplacesTheArchive) {
  TMainForm& f = StartWith(WallCloud());
  THistoryWindow& w = Open(f, 50 * RunHistory::SnapshotBytes());
  const QString big = WriteArchive(Folder() + QStringLiteral("/big.qra"), 200);
  const QString small = WriteArchive(Folder() + QStringLiteral("/small.qra"), 30);
  dialogs.openAnswers.push_back(big);
  f.Open1->trigger();
  ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front().toStdString();
  const RunHistory& h = f.History();
  ASSERT_EQ(h.Size(), 50u);
  EXPECT_EQ(h.At(0).State.StepCount, 0);
  EXPECT_EQ(h.At(49).State.StepCount, 1990);
  EXPECT_EQ(state.StepCount, 1990);
  // No gap wider than the even spacing: 199 steps of the archive in 49.
  for (std::size_t i = 1; i < h.Size(); ++i)
    ASSERT_LE(h.At(i).State.StepCount - h.At(i - 1).State.StepCount, 50) << i;
  EXPECT_TRUE(w.ArchiveNote->isVisibleTo(&w));
  EXPECT_EQ(
      w.ArchiveNote->text(),
      QStringLiteral("Showing 50 of 200 snapshots of big.qra, evenly spaced: the history holds no more."));

  // No: nothing chosen, nothing written.
  const std::size_t chosen = dialogs.fileDialogs.size();
  dialogs.yesNoAnswers.push_back(false);
  w.SaveButton->click();
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_TRUE(dialogs.questions[0].contains(QStringLiteral("50 of the 200 snapshots of big.qra")))
      << dialogs.questions[0].toStdString();
  EXPECT_TRUE(dialogs.questions[0].contains(QStringLiteral("writes only those")));
  EXPECT_EQ(dialogs.fileDialogs.size(), chosen);

  const QByteArray original = ReadBytes(big);
  const struct {
    QPushButton* button;
    bool asks;
    const char* refusal;
  } outputs[] = {
      {w.SaveButton, true, "The archive cannot replace the run archive it was made from."},
      {w.ExportButton, false, "The table cannot replace the run archive it was made from."},
      {w.ExportXyzButton, false, "The frames cannot replace the run archive they were made from."},
  };
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.refusal);
    if (o.asks) dialogs.yesNoAnswers.push_back(true);
    dialogs.saveAnswers.push_back(big);
    dialogs.yesNoAnswers.push_back(true);  // "replace it?" Yes: still refused
    const std::size_t errors = dialogs.errors.size();
    o.button->click();
    ASSERT_EQ(dialogs.errors.size(), errors + 1);
    EXPECT_EQ(dialogs.errors.back(), QString::fromLatin1(o.refusal));
    EXPECT_EQ(ReadBytes(big), original);
  }

  // Yes, and another file: the 50 shown.
  const QString shown = Folder() + QStringLiteral("/shown.qra");
  dialogs.yesNoAnswers.push_back(true);
  dialogs.saveAnswers.push_back(shown);
  w.SaveButton->click();
  EXPECT_EQ(archive::Reader(shown.toStdString()).Count(), 50u);

  // An archive that fits is shown whole and saved without telling what is
  // left out, but never over itself either.
  dialogs.openAnswers.push_back(small);
  f.Open1->trigger();
  EXPECT_EQ(h.Size(), 30u);
  EXPECT_FALSE(w.ArchiveNote->isVisibleTo(&w));
  const std::size_t asked = dialogs.questions.size(), errors = dialogs.errors.size();
  dialogs.saveAnswers.push_back(small);
  dialogs.yesNoAnswers.push_back(true);  // "replace it?"
  w.SaveButton->click();
  ASSERT_EQ(dialogs.questions.size(), asked + 1);
  EXPECT_FALSE(dialogs.questions.back().contains(QStringLiteral("writes only those")));
  EXPECT_EQ(dialogs.errors.size(), errors + 1);
  // Another state installed: the archive is no longer where the history
  // came from.
  f.Daons1Click();
  RunFor(3);
  const QString csv = Folder() + QStringLiteral("/small.csv");
  EXPECT_TRUE(f.History().Source().path.empty());
  dialogs.saveAnswers.push_back(csv);
  w.ExportButton->click();
  EXPECT_EQ(dialogs.errors.size(), errors + 1);
}

// A file that is not an archive past its mark, or a damaged one, is an error
// box with the reader's reason and leaves the window as it was; a torn tail
// and a fault are told, the snapshots before them opened.
TEST_F(HistoryWindow, ADamagedArchiveChangesNothingAndATornOneIsTold) {
  TMainForm& f = StartWith(WallCloud());
  THistoryWindow& w = Open(f);
  w.show();
  RunFor(5);
  batch::Options o;
  o.in = startPath.toStdString();
  o.steps = 40;
  o.archive = (Folder() + QStringLiteral("/whole.qra")).toStdString();
  o.archiveEvery = 10;
  auto end = std::make_unique<SimState>();
  ASSERT_EQ(batch::Run(o, *end).status, batch::kDone);
  const QByteArray bytes = ReadBytes(QString::fromStdString(o.archive));
  const QByteArray mark(reinterpret_cast<const char*>(archive::kMagic), sizeof archive::kMagic);

  // A slot count no run has, with its checksum made right: only the field
  // checks stand in the way.
  const std::string crafted = testing_support::Crafted(bytes.toStdString(), 2, archive::kTaonAt,
                                                       testing_support::LittleEndian(std::int32_t{-7}));
  QByteArray flipped = bytes;
  flipped[int(archive::HeaderSize()) + 700] = char(flipped[int(archive::HeaderSize()) + 700] ^ 4);
  const struct {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      {"a bit flipped in a snapshot", flipped},
      {"a slot count of -7", QByteArray::fromStdString(crafted)},
      {"the mark and then text", mark + QByteArray("this is not a run archive\n").repeated(40)},
      {"the mark alone", mark},
      {"cut inside its header", bytes.left(int(archive::HeaderSize()) - 3)},
  };
  const std::size_t before = f.History().Size();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString bad = Folder() + QStringLiteral("/bad.qra");
    WriteBytes(bad, c.bytes);
    std::string reason;
    try {
      archive::Reader r(bad.toStdString());
    } catch (const FileError& e) {
      reason = e.what();
    }
    ASSERT_FALSE(reason.empty());
    const std::size_t errors = dialogs.errors.size();
    dialogs.openAnswers.push_back(bad);
    f.Open1->trigger();
    ASSERT_EQ(dialogs.errors.size(), errors + 1);
    EXPECT_TRUE(dialogs.errors.back().contains(QString::fromStdString(reason)))
        << dialogs.errors.back().toStdString();
    EXPECT_EQ(state.StepCount, 5);
    EXPECT_EQ(f.History().Size(), before);
    EXPECT_TRUE(f.History().Source().path.empty());
    EXPECT_EQ(w.Timeline->maximum(), int(before) - 1);
    EXPECT_EQ(f.FName->text(), startPath);
    EXPECT_TRUE(f.Go->isEnabled());
  }
  EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("snapshot 1 is damaged")))
      << dialogs.errors[0].toStdString();

  const std::size_t errors = dialogs.errors.size();
  const QString torn = Folder() + QStringLiteral("/torn.qra");
  WriteBytes(torn, bytes.left(bytes.size() - 100));
  dialogs.openAnswers.push_back(torn);
  f.Open1->trigger();
  EXPECT_EQ(dialogs.errors.size(), errors);
  ASSERT_EQ(dialogs.informations.size(), 1u);
  EXPECT_TRUE(dialogs.informations[0].contains(QStringLiteral("cut short")));
  EXPECT_EQ(f.History().Size(), 4u);
  EXPECT_EQ(state.StepCount, 30);
}

}  // namespace
}  // namespace qd
