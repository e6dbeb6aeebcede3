// The run archive: every bit of a snapshot comes back, a file cut at any
// byte gives back its whole snapshots, damage is told apart from a torn
// tail, and a run continued from a snapshot is the run that went on.
#include "core/persistence/run_archive.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

#include "core/batch/batch_run.h"
#include "core/common/errors.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/structures/structures.h"
#include "dynamics_support.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using archive::Entry;
using archive::Reader;
using archive::Writer;

class Archive : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quindelle-archive-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string Bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }

  // What reading `path` throws, or "" when it reads.
  static std::string ReadError(const std::string& path) {
    try {
      Reader r(path);
    } catch (const FileError& e) {
      return e.what();
    }
    return {};
  }

  // An archive of `count` snapshots of made-up states.
  std::string WriteArchive(const std::string& name, int count) {
    const std::string path = Path(name);
    Writer w(path, Made(0));
    for (int i = 1; i < count; ++i) w.Append(Made(i));
    w.Close();
    return path;
  }

  // A state with every kind of value an Extended can hold, element 0 too,
  // and every field at the edges of what a reader takes.
  static Entry Made(int i) {
    Entry e;
    e.step = std::int64_t{i} * 1000 + (i == 5 ? archive::kLastStep - 5000 : 0);
    e.options.force.formula = Formula(i % 5);
    e.options.force.sign = SignMode(i % 2);
    e.options.force.secondKindCount = i % 3 == 0 ? 30 : i % 3 == 1 ? 15 : 10;
    e.options.force.dropB = i % 2 == 1;
    e.options.force.dropCDF = i % 3 == 1;
    e.options.walls = Walls(i % 4);
    e.options.cooler = i % 2 == 0;
    e.options.heater = i % 3 == 2;
    e.options.blockade = i % 4 == 3;
    SimState s = testing_support::RandomCloud(40u + unsigned(i), 25, 4);
    s.X[0] = std::numeric_limits<Extended>::denorm_min();
    s.UZNew[60] = -std::numeric_limits<Extended>::infinity();
    s.ViewY[7] = std::numeric_limits<Extended>::quiet_NaN();
    s.F2 = -0.0L;
    s.StepCount = std::int32_t(e.step);
    s.TaonCount = 60 - 10 * i;
    for (int k = s.TaonCount + 1; k <= kSlotCount; ++k) s.Present[k] = 0;
    if (s.TaonCount > 0) s.Present[s.TaonCount] = 0xA5;  // any byte but 0 is a particle, kept as it is
    e.state = s;
    if (i == 5) e.fault = std::string(300, 'f');  // kept to its first 127 bytes
    return e;
  }

  fs::path dir_;
};

// The check value of the CRC-32 that zip and PNG use, whole and in pieces
// of every length around the eight bytes taken at a time.
TEST(ArchiveChecksum, IsTheZipAndPngCrc32) {
  const std::string text = "123456789";
  EXPECT_EQ(archive::Crc32(text.data(), text.size()), 0xCBF43926u);
  EXPECT_EQ(archive::Crc32("", 0), 0u);
  const std::string longer = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(archive::Crc32(longer.data(), longer.size()), 0x414FA339u);
  for (std::size_t cut = 0; cut <= longer.size(); ++cut)
    EXPECT_EQ(archive::Crc32(longer.data() + cut, longer.size() - cut, archive::Crc32(longer.data(), cut)),
              0x414FA339u)
        << cut;
}

// The default cadence: 1000 steps, or the round number of steps that keeps
// the snapshots at 1% of the run's time; never shrinking; a given interval
// whatever the times.
TEST(ArchiveCadence, KeepsSnapshotsToAHundredthOfTheRun) {
  const struct {
    const char* name;
    std::int32_t fixed;
    double snapshotUs, stepUs;
    std::int64_t every;
  } cases[] = {
      {"60 particles", 0, 80, 700, 1000},
      {"one particle", 0, 20, 1, 2000},
      {"one particle, busy", 0, 44, 0.95, 5000},
      {"slow disk", 0, 1000, 10, 10000},
      {"exactly 1%", 0, 10, 1, 1000},
      {"given", 7, 1000, 1, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    batch::ArchiveCadence cadence(c.fixed);
    cadence.Measured(c.snapshotUs * 1000, 0, 0);  // the first snapshot, before any step
    EXPECT_EQ(cadence.Every(), c.fixed > 0 ? c.fixed : 1000);
    for (int i = 0; i < 3; ++i) cadence.Measured(c.snapshotUs * 1000, c.stepUs * 1000 * 1000, 1000);
    EXPECT_EQ(cadence.Every(), c.every);
    EXPECT_TRUE(cadence.Due(3 * c.every));
    EXPECT_FALSE(cadence.Due(3 * c.every + 1));
  }
  // Faster snapshots later never make the interval shrink.
  batch::ArchiveCadence cadence;
  cadence.Measured(100000, 1000000, 1000);
  EXPECT_EQ(cadence.Every(), 10000);
  for (int i = 0; i < 50; ++i) cadence.Measured(1, 1e9, 10000);
  EXPECT_EQ(cadence.Every(), 10000);
}

TEST_F(Archive, EverySnapshotComesBackBitForBit) {
  const std::string path = WriteArchive("run.qra", 6);
  Reader r(path);
  EXPECT_EQ(r.Version(), 1u);
  ASSERT_EQ(r.Count(), 6u);
  EXPECT_FALSE(r.TornTail());
  // The sizes docs/run-archive.md gives.
  EXPECT_EQ(archive::HeaderSize(), 29u);
  EXPECT_EQ(archive::RecordSize(), 9486u);
  EXPECT_EQ(fs::file_size(path), archive::HeaderSize() + 6 * archive::RecordSize());
  EXPECT_TRUE(archive::LooksLikeArchive(path));
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    Entry want = Made(i), got = r.At(std::size_t(i));
    EXPECT_EQ(r.Steps()[std::size_t(i)], want.step);
    if (want.fault.size() > archive::kMaxFaultText) want.fault.resize(archive::kMaxFaultText);
    EXPECT_EQ(got.fault, want.fault);
    EXPECT_EQ(archive::EncodeRecord(got), archive::EncodeRecord(want));
    EXPECT_TRUE(testing_support::SameDynamicState(got.state, want.state));
    EXPECT_TRUE(std::isnan(got.state.ViewY[7]));
    EXPECT_TRUE(std::signbit(got.state.F2));
    if (want.state.TaonCount > 0) {
      EXPECT_EQ(got.state.Present[std::size_t(want.state.TaonCount)], 0xA5);
    }
  }
  // The header keeps the options of the first snapshot.
  EXPECT_EQ(r.Options().force.formula, Made(0).options.force.formula);
  EXPECT_EQ(r.Options().walls, Made(0).options.walls);
  EXPECT_EQ(r.Options().cooler, Made(0).options.cooler);
}

// A run killed in the middle of any write, or a disk that filled up, leaves
// the file cut at some byte: every whole snapshot before the cut reads back.
TEST_F(Archive, AFileCutAtAnyByteGivesBackItsWholeSnapshots) {
  const std::string whole = Bytes(WriteArchive("whole.qra", 3));
  const std::size_t head = archive::HeaderSize(), rec = archive::RecordSize();
  Reader full(Path("whole.qra"));
  for (std::size_t cut = 0; cut <= whole.size(); cut += (cut < head + 16 || cut % rec < 8) ? 1 : 97) {
    Put(Path("cut.qra"), whole.substr(0, cut));
    const std::string error = ReadError(Path("cut.qra"));
    if (cut < head) {
      EXPECT_FALSE(error.empty()) << cut;
      continue;
    }
    ASSERT_EQ(error, "") << cut;
    Reader r(Path("cut.qra"));
    const std::size_t count = (cut - head) / rec;
    ASSERT_EQ(r.Count(), count) << cut;
    EXPECT_EQ(r.TornTail(), (cut - head) % rec != 0) << cut;
    EXPECT_EQ(r.WholeSize(), head + count * rec);
    if (count > 0) {
      EXPECT_EQ(archive::EncodeRecord(r.At(count - 1)), archive::EncodeRecord(full.At(count - 1)));
    }
  }
}

TEST_F(Archive, DamageIsAClearErrorAndNeverATornTail) {
  const std::string good = Bytes(WriteArchive("good.qra", 3));
  const std::size_t head = archive::HeaderSize(), rec = archive::RecordSize();
  auto flipped = [&](std::size_t at) {
    std::string b = good;
    b[at] = char(b[at] ^ 0x10);
    return b;
  };
  std::string otherVersion = good;
  otherVersion[8] = 2;
  // The version is checked before the checksum: a newer program's archive
  // is not called damaged.
  SimState square{};
  square.TaonCount = kSlotCount;
  StructureBuilder(square);
  FillConfigRecord(square);
  WriteConfigFile(square, Path("square.pln"));
  const struct {
    const char* name;
    std::string bytes;
    std::string error;
  } cases[] = {
      {"empty", "", "not a run archive (the file is empty)"},
      {"text", "step,slot,x\n", "not a run archive (it does not start with the archive's mark)"},
      {"pln", Bytes(Path("square.pln")), "not a run archive (it does not start with the archive's mark)"},
      {"mark_only", good.substr(0, 8), "the archive's header is cut short"},
      {"header_cut", good.substr(0, head - 1), "the archive's header is cut short"},
      {"version", otherVersion, "archive format version 2; this program reads version 1"},
      {"header_option", flipped(16), "the archive's header is damaged"},
      {"header_crc", flipped(head - 1), "the archive's header is damaged"},
      {"first_snapshot_tag", flipped(head), "snapshot 1 is damaged (no snapshot mark at byte 29)"},
      {"first_snapshot_state", flipped(head + 500), "snapshot 1 is damaged (checksum mismatch at byte 29)"},
      {"second_snapshot_length", flipped(head + rec + 5),
       "snapshot 2 is damaged (wrong snapshot length at byte " + std::to_string(head + rec) + ")"},
      // A whole last snapshot with a wrong checksum was changed after it was
      // written (a system that stopped leaves zeros, archive_checks_test).
      {"last_snapshot_state", flipped(good.size() - 100),
       "snapshot 3 is damaged (checksum mismatch at byte " + std::to_string(head + 2 * rec) + ")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(Path("bad.qra"), c.bytes);
    EXPECT_EQ(ReadError(Path("bad.qra")), c.error);
    std::string message;
    std::ostringstream listed;
    EXPECT_EQ(batch::ListArchive(Path("bad.qra"), listed, message), batch::kFileFault);
    EXPECT_EQ(message, Path("bad.qra") + ": " + c.error);
  }

  // Not files: never waited on.
  ASSERT_EQ(mkfifo(Path("fifo.qra").c_str(), 0600), 0);
  EXPECT_EQ(ReadError(Path("fifo.qra")), kFileAccessDenied);
  EXPECT_FALSE(archive::LooksLikeArchive(Path("fifo.qra")));
  EXPECT_EQ(ReadError(dir_.string()), kFileAccessDenied);
  EXPECT_EQ(ReadError(Path("missing.qra")), kFileNotFound);
}

TEST_F(Archive, AnExistingFileIsNeverWrittenOver) {
  Put(Path("taken.qra"), "keep me");
  EXPECT_THROW(Writer(Path("taken.qra"), Made(0)), FileError);
  EXPECT_EQ(Bytes(Path("taken.qra")), "keep me");
  EXPECT_THROW(Writer(Path("no-folder/run.qra"), Made(0)), FileError);
  // Nothing is left behind by a failed creation.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  // Appending cuts a torn tail off first and goes on after the whole
  // snapshots.
  const std::string path = WriteArchive("grow.qra", 2);
  const std::vector<std::uint8_t> cut = archive::EncodeRecord(Made(3));
  std::ofstream(path, std::ios::binary | std::ios::app) << std::string(cut.begin(), cut.begin() + 77);
  {
    Writer w(path);
    Reader r(path, w);
    ASSERT_TRUE(r.TornTail());
    w.ContinueAfter(r.WholeSize());
    w.Append(Made(2));
    w.Close();
  }
  Reader r(path);
  EXPECT_EQ(r.Count(), 3u);
  EXPECT_FALSE(r.TornTail());
  EXPECT_EQ(archive::EncodeRecord(r.At(2)), archive::EncodeRecord(Made(2)));
}

// ---- runs continued from an archive -----------------------------------------

class ArchivedRun : public Archive {
 protected:
  // A cloud of two kinds that moves noticeably within a few hundred steps.
  std::string WriteCloud(const std::string& name) {
    SimState s = testing_support::RandomCloud(7, 24, 3);
    testing_support::SetKind(s, 1, 1, 2.718L, 5, 10, 20);
    testing_support::SetKind(s, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
    s.Dt = 1e-3L;
    FillConfigRecord(s);
    WriteConfigFile(s, Path(name));
    return Path(name);
  }

  int Go(const batch::Options& o) {
    auto s = std::make_unique<SimState>();
    const batch::Outcome r = batch::Run(o, *s, {});
    message_ = r.message;
    return r.status;
  }

  std::string message_;
};

struct Choices {
  const char* name;
  Formula formula;
  Walls walls;
  bool cooler, heater, blockade;
};

const Choices kChoices[] = {
    {"E", Formula::E, Walls::None, false, false, false},
    {"PE_walls", Formula::PE, Walls::Thermos3X3, false, false, false},
    {"PES_cooler", Formula::PES, Walls::None, true, false, false},
    {"DUDI_heater_walls", Formula::DUDI, Walls::Thermos20X20, false, true, false},
    {"EPESminus_blockade", Formula::EPESminus, Walls::ThermosNXN, false, false, true},
    {"DUDI_everything", Formula::DUDI, Walls::Thermos3X3, true, true, true},
};

// N steps in one run, k steps and N - k from the archive's snapshot of k, and
// k steps resumed for N - k: the same bits.
TEST_F(ArchivedRun, ARestartFromASnapshotIsTheRunThatWentOn) {
  const std::string in = WriteCloud("cloud.pln");
  constexpr int N = 240, k = 90;
  for (const Choices& c : kChoices) {
    SCOPED_TRACE(c.name);
    batch::Options whole;
    whole.in = in;
    whole.steps = N;
    whole.step.force.formula = c.formula;
    whole.step.walls = c.walls;
    whole.step.cooler = c.cooler;
    whole.step.heater = c.heater;
    whole.step.blockade = c.blockade;
    whole.step.threads = 2;
    whole.archive = Path(std::string(c.name) + ".qra");
    whole.archiveEvery = 30;
    whole.out = Path(std::string(c.name) + ".pln");
    ASSERT_EQ(Go(whole), batch::kDone) << message_;

    // From the snapshot of step k, with the archive's choices.
    batch::Options from;
    from.from = whole.archive;
    from.fromStep = k;
    from.steps = N - k;
    from.step.threads = 1;
    from.archive = Path(std::string(c.name) + "-from.qra");
    from.out = Path(std::string(c.name) + "-from.pln");
    ASSERT_EQ(Go(from), batch::kDone) << message_;

    // Stopped at k, resumed for N - k more.
    batch::Options first = whole;
    first.steps = k;
    first.archive = Path(std::string(c.name) + "-resumed.qra");
    first.out.clear();
    ASSERT_EQ(Go(first), batch::kDone) << message_;
    batch::Options resumed;
    resumed.archive = first.archive;
    resumed.resume = true;
    resumed.steps = N - k;
    resumed.archiveEvery = 30;
    ASSERT_EQ(Go(resumed), batch::kDone) << message_;

    Reader a(whole.archive), b(from.archive), r(resumed.archive);
    ASSERT_EQ(a.Count(), std::size_t(N / 30 + 1));
    EXPECT_EQ(a.Steps().back(), N);
    EXPECT_EQ(b.Steps().front(), k);
    EXPECT_EQ(b.Steps().back(), N);
    // The resumed archive is the uninterrupted one, byte for byte.
    EXPECT_EQ(Bytes(resumed.archive), Bytes(whole.archive));
    EXPECT_EQ(archive::EncodeRecord(b.At(b.Count() - 1)), archive::EncodeRecord(a.At(a.Count() - 1)));
    EXPECT_EQ(Bytes(from.out), Bytes(whole.out));
    EXPECT_EQ(b.Options().force.formula, c.formula);
    EXPECT_EQ(b.Options().walls, c.walls);
    EXPECT_EQ(b.Options().blockade, c.blockade);
  }
}

TEST_F(ArchivedRun, ChoicesGivenReplaceTheArchivedOnesAndMissingStepsAreNamed) {
  const std::string in = WriteCloud("cloud.pln");
  batch::Options o;
  o.in = in;
  o.steps = 50;
  o.step.force.formula = Formula::PES;
  o.step.cooler = true;
  o.archive = Path("a.qra");
  o.archiveEvery = 20;
  ASSERT_EQ(Go(o), batch::kDone) << message_;

  batch::Options from;
  from.from = o.archive;
  from.steps = 10;
  from.step.walls = Walls::Thermos20X20;
  from.given.walls = true;
  from.archive = Path("b.qra");
  ASSERT_EQ(Go(from), batch::kDone) << message_;
  const Reader b(from.archive);
  EXPECT_EQ(b.Options().force.formula, Formula::PES);  // kept
  EXPECT_TRUE(b.Options().cooler);                     // kept
  EXPECT_EQ(b.Options().walls, Walls::Thermos20X20);   // given
  EXPECT_EQ(b.Steps(), (std::vector<std::int64_t>{50, 60}));

  from.fromStep = 30;
  from.archive.clear();
  EXPECT_EQ(Go(from), batch::kUsage);
  EXPECT_EQ(message_, o.archive + ": no snapshot of step 30; the nearest are step 20 and 40");
  from.fromStep = 99;
  EXPECT_EQ(Go(from), batch::kUsage);
  EXPECT_EQ(message_, o.archive + ": no snapshot of step 99; the nearest are step 50");
  from.from = in;  // a configuration is not an archive
  from.fromStep.reset();
  EXPECT_EQ(Go(from), batch::kFileFault);
  EXPECT_EQ(message_, in + ": not a run archive (it does not start with the archive's mark)");
}

// A fault after many steps: the state kept is the one before the faulting
// step, found by running on from the last snapshot.
TEST_F(ArchivedRun, AFaultLateInTheRunKeepsTheStepBeforeIt) {
  // One particle flying towards the end of the numbers: x overflows at
  // step 109.
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Present[3] = 1;
  s.X[3] = 1e4931L;
  s.UX[3] = 1e4930L;
  s.Dt = 1;
  s.A1 = s.B1 = s.C1 = s.D1 = s.F1 = s.A2 = s.B2 = s.C2 = s.D2 = s.F2 = 1;
  InstallAll(s);
  FillConfigRecord(s);
  WriteConfigFile(s, Path("crash.pln"));
  batch::Options o;
  o.in = Path("crash.pln");
  o.steps = 100000;
  o.archive = Path("crash.qra");
  o.archiveEvery = 7;
  ASSERT_EQ(Go(o), batch::kFloatingPointFault);
  EXPECT_EQ(message_, "step 109: Floating point overflow");
  Reader r(o.archive);
  const Entry last = r.At(r.Count() - 1);
  EXPECT_EQ(last.fault, "Floating point overflow");
  EXPECT_EQ(last.step, 108);
  EXPECT_EQ(r.Steps()[r.Count() - 2], 105);
  // Running on from the previous snapshot to the fault's step reproduces it.
  batch::Options again;
  again.from = o.archive;
  again.fromStep = r.Steps()[r.Count() - 2];
  again.steps = std::int32_t(last.step - *again.fromStep);
  again.archive = Path("again.qra");
  ASSERT_EQ(Go(again), batch::kDone) << message_;
  Reader a(again.archive);
  const Entry mine = a.At(a.Count() - 1);
  EXPECT_EQ(mine.step, last.step);
  EXPECT_TRUE(testing_support::SameDynamicState(mine.state, last.state));
}

// A disk that fills up stops the run with a file error; every snapshot
// written before is whole. The file size limit stands in for the full disk
// (in a child, as it is per process).
TEST_F(ArchivedRun, AFullDiskKeepsEverySnapshotWrittenBefore) {
  const std::string in = WriteCloud("cloud.pln");
  const std::size_t head = archive::HeaderSize(), rec = archive::RecordSize();
  for (const std::size_t limit : {head + rec / 2, head + 3 * rec + 100, head + 5 * rec}) {
    SCOPED_TRACE(limit);
    const std::string path = Path("full-" + std::to_string(limit) + ".qra");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit cap{rlim_t(limit), rlim_t(limit)};
      setrlimit(RLIMIT_FSIZE, &cap);
      batch::Options o;
      o.in = in;
      o.steps = 200;
      o.archive = path;
      o.archiveEvery = 10;
      auto s = std::make_unique<SimState>();
      const batch::Outcome r = batch::Run(o, *s, {});
      _exit(r.status == batch::kFileFault && r.message == path + ": " + kDiskFull ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (limit < head + rec) {
      EXPECT_FALSE(fs::exists(path));  // not even the first snapshot fitted
      continue;
    }
    Reader r(path);
    EXPECT_EQ(r.Count(), (limit - head) / rec);
    EXPECT_FALSE(r.TornTail());  // the part that did not fit was cut off
    for (std::size_t i = 0; i < r.Count(); ++i) EXPECT_EQ(r.Steps()[i], std::int64_t(10 * i));
  }
  // Nothing but the archives and the input is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

}  // namespace
}  // namespace qd
