// Archives from elsewhere: every field of a snapshot is checked, not only its
// checksum; the three kinds of damaged end are told apart; a second writer
// is refused; the steps stay in the range the step counter holds, and a run
// taken from an archive reports its fault's true step everywhere.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "archive_craft.h"
#include "core/batch/batch_archive.h"
#include "core/batch/batch_run.h"
#include "core/common/errors.h"
#include "core/persistence/config_record.h"
#include "core/persistence/run_archive.h"
#include "core/structures/structures.h"
#include "dynamics_support.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using archive::Reader;
using testing_support::Crafted;
using testing_support::LittleEndian;
using testing_support::WithFault;

class ArchiveChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quindelle-checks-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    SimState s = testing_support::RandomCloud(11, 12, 3);
    testing_support::SetKind(s, 1, 1, 2.718L, 5, 10, 20);
    testing_support::SetKind(s, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
    s.Dt = 1e-3L;
    FillConfigRecord(s);
    WriteConfigFile(s, Path("cloud.pln"));
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
  static std::string ReadError(const std::string& path) {
    try {
      Reader r(path);
    } catch (const FileError& e) {
      return e.what();
    }
    return {};
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  int Go(const batch::Options& o) {
    auto s = std::make_unique<SimState>();
    const batch::Outcome r = batch::Run(o, *s, {});
    message_ = r.message;
    return r.status;
  }
  // A run of `steps` steps from the cloud, a snapshot every `every`.
  std::string Archived(const std::string& name, int steps, int every) {
    batch::Options o;
    o.in = Path("cloud.pln");
    o.steps = steps;
    o.archive = Path(name);
    o.archiveEvery = every;
    EXPECT_EQ(Go(o), batch::kDone) << message_;
    return o.archive;
  }

  fs::path dir_;
  std::string message_;
};

// A field rewritten with its checksum made right is damage naming the
// snapshot, the same to the reader, --list-archive, --from and --resume,
// and nothing is left behind.
TEST_F(ArchiveChecks, EveryFieldIsCheckedNotOnlyTheChecksum) {
  const std::string good = Bytes(Archived("good.qra", 20, 10));  // steps 0, 10, 20
  const std::size_t rec = archive::RecordSize(), head = archive::HeaderSize();
  int firstPresent = 1;
  while (Reader(Path("good.qra")).At(1).state.Present[std::size_t(firstPresent)] == 0) ++firstPresent;
  auto i32 = [](std::int32_t v) { return LittleEndian(v); };
  auto i64 = [](std::int64_t v) { return LittleEndian(v); };
  // Step and step counter together, so that only the step's order is wrong.
  auto stepped = [&](std::size_t frame, std::int64_t step) {
    return Crafted(Crafted(good, frame, archive::kStepAt, i64(step)), frame, archive::kStepCountAt,
                   i32(std::int32_t(step)));
  };
  const struct {
    const char* name;
    std::string bytes;
    std::size_t frame;  // the snapshot named, from 0
    std::string says;
  } cases[] = {
      {"slot count -7", Crafted(good, 1, archive::kTaonAt, i32(-7)), 1, "slot count -7 outside 0..60"},
      {"slot count -2^31", Crafted(good, 1, archive::kTaonAt, i32(INT_MIN)), 1,
       "slot count -2147483648 outside 0..60"},
      {"slot count 61", Crafted(good, 2, archive::kTaonAt, i32(61)), 2, "slot count 61 outside 0..60"},
      {"slot count below a particle", Crafted(good, 1, archive::kTaonAt, i32(firstPresent - 1)), 1,
       "slot " + std::to_string(firstPresent) + " present beyond the slot count " +
           std::to_string(firstPresent - 1)},
      {"slot 0 present", Crafted(good, 0, archive::kPresentAt, "\x01"), 0, "slot 0 marked present"},
      {"negative step", stepped(0, -1), 0, "step -1 outside 0..2147483647"},
      {"step past the counter", Crafted(good, 2, archive::kStepAt, i64(std::int64_t{1} << 31)), 2,
       "step 2147483648 outside 0..2147483647"},
      {"step counter apart", Crafted(good, 1, archive::kStepCountAt, i32(11)), 1,
       "step counter 11 differs from step 10"},
      {"repeated step", stepped(1, 0), 1, "step 0 after step 0"},
      {"decreasing step", stepped(2, 5), 2, "step 5 after step 10"},
      {"unknown formula", Crafted(good, 1, 16, "\x07"), 1, "unknown option value"},
      {"20 slots of the second kind", Crafted(good, 1, 18, "\x14"), 1, "unknown option value"},
      {"a switch that is neither off nor on", Crafted(good, 1, 22, "\x02"), 1, "unknown option value"},
      {"fault text too long", Crafted(good, 2, archive::kFaultAt, "\x80"), 2, "fault text of 128 bytes"},
      {"escape sequence", WithFault(good, 2, "\x1b[2J"), 2, "fault text that is not printable UTF-8"},
      {"line end", WithFault(good, 2, "over\nflow"), 2, "fault text that is not printable UTF-8"},
      {"NUL", WithFault(good, 2, std::string("a\0b", 3)), 2, "fault text that is not printable UTF-8"},
      {"DEL", WithFault(good, 2, "rub\x7fout"), 2, "fault text that is not printable UTF-8"},
      {"invalid UTF-8", WithFault(good, 2, "\xff\xfe"), 2, "fault text that is not printable UTF-8"},
      {"long form of '/'", WithFault(good, 2, "\xc0\xaf"), 2, "fault text that is not printable UTF-8"},
      {"C1 control", WithFault(good, 2, "\xc2\x9b"), 2, "fault text that is not printable UTF-8"},
      {"surrogate", WithFault(good, 2, "\xed\xa0\x80"), 2, "fault text that is not printable UTF-8"},
      {"cut character", WithFault(good, 2, "\xc3"), 2, "fault text that is not printable UTF-8"},
      {"bytes after the text", Crafted(good, 2, archive::kFaultAt + 5, "x"), 2, "bytes after the fault text"},
      {"a snapshot after a fault", WithFault(good, 1, "Floating point overflow"), 2,
       "a snapshot after the one whose fault ended the run"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path("bad.qra");
    Put(path, c.bytes);
    const std::string says = "snapshot " + std::to_string(c.frame + 1) + " is damaged (" + c.says +
                             " at byte " + std::to_string(head + c.frame * rec) + ")";
    EXPECT_EQ(ReadError(path), says);
    std::ostringstream listed;
    std::string message;
    EXPECT_EQ(batch::ListArchive(path, listed, message), batch::kFileFault);
    EXPECT_EQ(message, path + ": " + says);
    batch::Options from;
    from.from = path;
    from.steps = 1;
    from.step.threads = 2;
    from.csv = Path("x.csv");
    from.xyz = Path("x.xyz");
    from.archive = Path("from.qra");
    EXPECT_EQ(Go(from), batch::kFileFault);
    EXPECT_EQ(message_, path + ": " + says);
    batch::Options resumed;
    resumed.archive = path;
    resumed.resume = true;
    resumed.steps = 1;
    EXPECT_EQ(Go(resumed), batch::kFileFault);
    EXPECT_EQ(message_, path + ": " + says);
    EXPECT_EQ(Bytes(path), c.bytes);
    EXPECT_EQ(Names(), (std::vector<std::string>{"bad.qra", "cloud.pln", "good.qra"}));
  }
  // What the program itself may write is taken: any byte but 0 for a
  // particle (a configuration's own), and UTF-8 in a fault text.
  Put(Path("ok.qra"), WithFault(Crafted(good, 1, archive::kPresentAt + std::size_t(firstPresent), "\xff"), 2,
                                "\xc3\x9c"
                                "berlauf \xe2\x80\x93 \xf0\x9f\x94\xa5"));
  Reader ok(Path("ok.qra"));
  EXPECT_EQ(ok.At(1).state.Present[std::size_t(firstPresent)], 0xFF);
  EXPECT_EQ(ok.At(2).fault,
            "\xc3\x9c"
            "berlauf \xe2\x80\x93 \xf0\x9f\x94\xa5");
}

// A fault at the step after a snapshot was written as a snapshot of that
// step again; read, the step is there once with the fault marked on it.
// A repeated step whose state differs is damage.
TEST_F(ArchiveChecks, AFaultRightAfterASnapshotMarksIt) {
  const std::string good = Bytes(Archived("good.qra", 20, 10));
  const std::size_t rec = archive::RecordSize(), head = archive::HeaderSize();
  const std::string last = good.substr(good.size() - rec);
  Put(Path("pair.qra"), WithFault(good + last, 3, "Floating point overflow"));
  Reader pair(Path("pair.qra"));
  EXPECT_EQ(pair.Steps(), (std::vector<std::int64_t>{0, 10, 20}));
  EXPECT_EQ(pair.At(2).fault, "Floating point overflow");
  EXPECT_EQ(pair.WholeSize(), head + 4 * rec);
  std::ostringstream listed;
  std::string message;
  ASSERT_EQ(batch::ListArchive(Path("pair.qra"), listed, message), batch::kDone);
  EXPECT_NE(listed.str().find("\n20\t"), std::string::npos);
  EXPECT_EQ(listed.str().find("\n20\t", listed.str().find("\n20\t") + 1), std::string::npos);
  EXPECT_NE(listed.str().find("# 3 snapshots; torn tail: none"), std::string::npos);

  const std::string changed = Crafted(WithFault(good + last, 3, "Floating point overflow"), 3, 300, "\x01");
  Put(Path("changed.qra"), changed);
  EXPECT_EQ(ReadError(Path("changed.qra")),
            "snapshot 4 is damaged (step 20 after step 20 at byte " + std::to_string(head + 3 * rec) + ")");
  Put(Path("twice.qra"), good + last);  // the same step without a fault
  EXPECT_EQ(ReadError(Path("twice.qra")),
            "snapshot 4 is damaged (step 20 after step 20 at byte " + std::to_string(head + 3 * rec) + ")");
}

// A fault keeps the state after the last good step, with the fault, from
// which a changed choice can go on.
TEST_F(ArchiveChecks, AFaultLeavesTheLastGoodStateWithTheFault) {
  SimState s{};
  s.TaonCount = kSlotCount;
  StructureBuilder(s);
  s.Dt = 0.001L;
  s.UX[2] = 0.125L;
  s.D2 = 0;  // the first step divides by zero
  FillConfigRecord(s);
  WriteConfigFile(s, Path("bad.pln"));
  batch::Options o;
  o.in = Path("bad.pln");
  o.steps = 10;
  o.archive = Path("fault.qra");
  EXPECT_EQ(Go(o), batch::kFloatingPointFault);
  // The fault after the start's snapshot is marked on it: step 0 once.
  Reader r(o.archive);
  ASSERT_EQ(r.Count(), 1u);
  EXPECT_EQ(r.Steps(), std::vector<std::int64_t>{0});
  const archive::Entry end = r.At(0);
  EXPECT_EQ(end.fault, "Floating point division by zero");
  SimState loaded{};
  ReadConfigFile(loaded, o.in);
  ApplyConfigRecord(loaded);
  loaded.TaonCount = kSlotCount;
  EXPECT_TRUE(testing_support::SameDynamicState(end.state, loaded));
  std::ostringstream listed;
  std::string message;
  EXPECT_EQ(batch::ListArchive(o.archive, listed, message), batch::kDone);
  EXPECT_NE(listed.str().find("0\t"), std::string::npos);
  EXPECT_NE(listed.str().find("\tfault after this step: Floating point division by zero\n"),
            std::string::npos);
  EXPECT_NE(listed.str().find("# 1 snapshot; torn tail: none\n"), std::string::npos);
  // A faulted run is not resumed as it was.
  batch::Options resumed;
  resumed.archive = o.archive;
  resumed.resume = true;
  resumed.steps = 5;
  const std::string before = Bytes(o.archive);
  EXPECT_EQ(Go(resumed), batch::kFloatingPointFault);
  EXPECT_EQ(Bytes(o.archive), before);
}

// The end of a file: a snapshot cut short, zeros a crash left where a
// snapshot was being written, and a whole snapshot changed afterwards are
// three things, and said so.
TEST_F(ArchiveChecks, TheThreeKindsOfDamagedEndAreToldApart) {
  const std::string good = Bytes(Archived("good.qra", 20, 10));
  const std::size_t rec = archive::RecordSize(), head = archive::HeaderSize();
  const std::string body = good.substr(0, head + 2 * rec), last = good.substr(head + 2 * rec);
  std::string endZeroed = last;
  const std::size_t sector = (good.size() - 1) / 512 * 512 - (head + 2 * rec);
  std::fill(endZeroed.begin() + std::ptrdiff_t(sector), endZeroed.end(), '\0');
  std::string flipped = last;
  flipped[4000] ^= 4;
  const struct {
    const char* name;
    std::string tail;
    archive::Tail kind;
    std::optional<std::int64_t> step;
    std::string listed, resumed;  // the end of --list-archive, the note of --resume
  } cases[] = {
      {"cut in the tag", last.substr(0, 3), archive::Tail::Cut, {}, "3 bytes, a snapshot cut short", ""},
      {"cut after the step", last.substr(0, 16), archive::Tail::Cut, 20,
       "16 bytes, a snapshot of step 20 cut short", ""},
      {"cut near the end", last.substr(0, rec - 1), archive::Tail::Cut, 20,
       std::to_string(rec - 1) + " bytes, a snapshot of step 20 cut short", ""},
      {"a few zeros",
       std::string(100, '\0'),
       archive::Tail::Zeros,
       {},
       "100 bytes of zeros where a snapshot",
       ""},
      {"a frame of zeros",
       std::string(rec, '\0'),
       archive::Tail::Zeros,
       {},
       std::to_string(rec) + " bytes of zeros where a snapshot was being written",
       ""},
      {"a frame ending in zeros", endZeroed, archive::Tail::Zeros, 20,
       std::to_string(rec) + " bytes of zeros where a snapshot of step 20 was being written", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::string(c.name) + ".qra");
    Put(path, body + c.tail);
    Reader r(path);
    EXPECT_EQ(r.Count(), 2u);
    EXPECT_EQ(r.TailKind(), c.kind);
    EXPECT_EQ(r.TornStep(), c.step);
    EXPECT_EQ(r.TornBytes(), c.tail.size());
    std::ostringstream listed;
    std::string message;
    ASSERT_EQ(batch::ListArchive(path, listed, message), batch::kDone);
    EXPECT_NE(listed.str().find("# 2 snapshots; torn tail: " + c.listed), std::string::npos) << listed.str();
    // --resume says what it cuts off and where it goes on.
    batch::Options o;
    o.archive = path;
    o.resume = true;
    o.steps = 2;
    ASSERT_EQ(Go(o), batch::kDone) << message_;
    EXPECT_NE(message_.find(path + ": the last " + c.listed), std::string::npos) << message_;
    EXPECT_NE(message_.find("; they are cut off and the run goes on from step 10"), std::string::npos)
        << message_;
    EXPECT_EQ(Reader(path).Steps(), (std::vector<std::int64_t>{0, 10, 12}));
  }
  // Bytes that no run writes, at the end, are damage.
  for (const std::string& tail : {std::string("xyz"), flipped}) {
    Put(Path("end.qra"), body + tail);
    const std::string at = " at byte " + std::to_string(head + 2 * rec) + ")";
    EXPECT_EQ(ReadError(Path("end.qra")), tail.size() == rec
                                              ? "snapshot 3 is damaged (checksum mismatch" + at
                                              : "snapshot 3 is damaged (bytes that are no snapshot" + at);
    batch::Options o;
    o.archive = Path("end.qra");
    o.resume = true;
    o.steps = 2;
    EXPECT_EQ(Go(o), batch::kFileFault);
    EXPECT_EQ(Bytes(Path("end.qra")), body + tail);
  }
}

// An archive is locked while it is written: a second writer, in this
// process or another, is refused and changes nothing.
TEST_F(ArchiveChecks, ASecondWriterIsRefused) {
  const std::string path = Archived("run.qra", 20, 10);
  const std::string before = Bytes(path);
  batch::Options o;
  o.archive = path;
  o.resume = true;
  o.steps = 5;
  {
    archive::Writer first(path);
    EXPECT_THROW(archive::Writer second(path), FileError);
    EXPECT_EQ(Go(o), batch::kFileFault);
    EXPECT_EQ(message_, path + ": " + archive::kBeingWritten);
    EXPECT_EQ(Bytes(path), before);
  }
  {
    // A new archive is locked from its first byte.
    archive::Entry e = Reader(path).At(0);
    archive::Writer fresh(Path("new.qra"), e);
    try {
      archive::Writer second(Path("new.qra"));
      ADD_FAILURE() << "a second writer of a new archive";
    } catch (const FileError& e) {
      EXPECT_STREQ(e.what(), archive::kBeingWritten);
    }
  }
  ASSERT_EQ(Go(o), batch::kDone) << message_;  // unlocked once the writer is gone
  EXPECT_EQ(Reader(path).Steps(), (std::vector<std::int64_t>{0, 10, 20, 25}));
}

// The snapshots' interval, found again from their steps, for --resume.
TEST_F(ArchiveChecks, ResumeKeepsTheArchivesInterval) {
  const struct {
    std::vector<std::int64_t> steps;
    std::int64_t every;
  } spacings[] = {
      {{0, 5, 10, 12}, 5},
      {{0, 5, 10}, 5},
      {{0, 7}, 0},
      {{0, 5, 7}, 5},
      {{0, 5, 10, 12, 15, 17}, 5},
      {{90, 120, 150, 155}, 30},
      {{0, 50, 100, 110, 120}, 10},
      {{0, 1000, 2000, 4000, 6000}, 2000},
      // Gaps of 500 off their multiples: a resumed run's, not a cadence.
      {{0, 250, 750, 1250}, 250},
      {{3}, 0},
      {{}, 0},
  };
  for (const auto& c : spacings)
    EXPECT_EQ(batch::SnapshotSpacing(c.steps), c.every) << ::testing::PrintToString(c.steps);

  const std::string path = Archived("run.qra", 50, 7);  // 0, 7, ..., 49, 50
  batch::Options o;
  o.archive = path;
  o.resume = true;
  o.steps = 30;
  ASSERT_EQ(Go(o), batch::kDone) << message_;
  std::vector<std::int64_t> want = {0, 7, 14, 21, 28, 35, 42, 49, 50, 56, 63, 70, 77, 80};
  EXPECT_EQ(Reader(path).Steps(), want);
  o.archiveEvery = 20;  // given, it wins
  ASSERT_EQ(Go(o), batch::kDone) << message_;
  want.insert(want.end(), {100, 110});
  EXPECT_EQ(Reader(path).Steps(), want);
}

// Steps stop at 2^31 - 1, where the step counter ends: a run that would go
// past it is refused before it starts, and up to it every table agrees.
TEST_F(ArchiveChecks, StepsStayWithinTheStepCounter) {
  const std::string path = Archived("run.qra", 2, 1);
  archive::Entry e = Reader(path).At(2);
  e.step = archive::kLastStep - 3;
  e.state.StepCount = std::int32_t(e.step);
  { archive::Writer(Path("late.qra"), e).Close(); }
  batch::Options o;
  o.archive = Path("late.qra");
  o.resume = true;
  o.steps = 4;
  EXPECT_EQ(Go(o), batch::kUsage);
  EXPECT_EQ(message_,
            o.archive +
                ": the run would end at step 2147483648, past 2147483647, the last step a run counts; "
                "from step 2147483644 at most 3 more");
  o.steps = 3;
  o.csv = Path("late.csv");
  o.xyz = Path("late.xyz");
  ASSERT_EQ(Go(o), batch::kDone) << message_;
  EXPECT_EQ(Reader(o.archive).Steps().back(), archive::kLastStep);
  const std::string csv = Bytes(o.csv), xyz = Bytes(o.xyz);
  EXPECT_NE(csv.find("\n2147483647,"), std::string::npos);
  EXPECT_EQ(csv.find("\n-"), std::string::npos);
  EXPECT_NE(xyz.find(" step=2147483647 "), std::string::npos);
  // The writer refuses what a reader would: no snapshot past the counter.
  e.step = archive::kLastStep + 1;
  EXPECT_THROW(archive::EncodeRecord(e), FileError);
  // A long fault text is cut at a character, never inside one.
  e.step = 0;
  e.state.StepCount = 0;
  e.fault = std::string(archive::kMaxFaultText - 1, 'a') + "\xc3\xbc";
  { archive::Writer(Path("cut.qra"), e).Close(); }
  EXPECT_EQ(Reader(Path("cut.qra")).At(0).fault, std::string(archive::kMaxFaultText - 1, 'a'));
}

// A run taken from an archive that faults later says the fault's own step
// in its message, its summary row and its archive's last snapshot.
TEST_F(ArchiveChecks, AContinuedRunReportsItsFaultsTrueStep) {
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
  batch::Options first;
  first.in = Path("crash.pln");
  first.steps = 50;
  first.archive = Path("crash.qra");
  first.archiveEvery = 7;
  ASSERT_EQ(Go(first), batch::kDone) << message_;
  Put(Path("copy.qra"), Bytes(first.archive));

  batch::Options resumed;
  resumed.archive = first.archive;
  resumed.resume = true;
  resumed.steps = 1000;
  resumed.summary = Path("resumed.csv");
  batch::Options from;
  from.from = Path("copy.qra");
  from.fromStep = 49;
  from.steps = 1000;
  from.archive = Path("from.qra");
  from.archiveEvery = 7;
  from.summary = Path("from.csv");
  for (const batch::Options* o : {&resumed, &from}) {
    SCOPED_TRACE(o->summary);
    ASSERT_EQ(Go(*o), batch::kFloatingPointFault);
    EXPECT_EQ(message_, "step 109: Floating point overflow");
    const std::string row = Bytes(o->summary);
    EXPECT_NE(row.find(",Floating point overflow,109,"), std::string::npos) << row;
    // The steps column is the last good step.
    EXPECT_NE(row.find(",108,"), std::string::npos) << row;
    Reader r(o->archive);
    const archive::Entry last = r.At(r.Count() - 1);
    EXPECT_EQ(last.step, 108);
    EXPECT_EQ(last.state.StepCount, 108);
    EXPECT_EQ(last.fault, "Floating point overflow");
    EXPECT_EQ(r.Steps()[r.Count() - 2], 105);
  }
}

}  // namespace
}  // namespace qd
