#include "core/persistence/config_record.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>

#include "core/common/errors.h"
#include "core/persistence/extended_bytes.h"
#include "test_files.h"

namespace qd {
namespace {

using qd::testing::ErrorOf;
using qd::testing::HandToChild;
using qd::testing::kNoDrop;
using qd::testing::ReadBytes;
using qd::testing::RunInChild;
using qd::testing::TempDir;
using qd::testing::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

Bytes At(const ConfigRecordBuffer& rec, std::size_t offset, std::size_t n = 10) {
  return Bytes(rec.begin() + static_cast<std::ptrdiff_t>(offset),
               rec.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

Bytes Of(Extended v) {
  const ExtendedBytes b = ExtendedToBytes(v);
  return Bytes(b.begin(), b.end());
}

Extended FromBytes(const Bytes& b) { return BytesToExtended(b.data()); }

bool SameBits(const Extended& a, const Extended& b) { return std::memcmp(&a, &b, 10) == 0; }

// A state with a distinct value in every field the record holds.
SimState Filled() {
  SimState s{};
  s.TaonCount = kSlotCount;
  for (int p = 0; p < 11; ++p) s.*kParameterBlock[p] = 0.5L + p;
  for (int k = 1; k <= kSlotCount; ++k) {
    s.X[k] = k + 0.1L;
    s.Y[k] = k + 0.2L;
    s.Z[k] = k + 0.3L;
    s.UX[k] = -k - 0.4L;
    s.UY[k] = -k - 0.5L;
    s.UZ[k] = -k - 0.6L;
    s.Present[k] = static_cast<std::uint8_t>(k % 3);
  }
  return s;
}

std::string ReadError(SimState& s, const std::string& path) {
  return ErrorOf<FileError>([&] { ReadConfigFile(s, path); });
}

std::string WriteError(const SimState& s, const std::string& path) {
  return ErrorOf<FileError>([&] { WriteConfigFile(s, path); });
}

TEST(ExtendedBytes, X87LayoutBitForBit) {
  EXPECT_EQ(Of(1), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
  EXPECT_EQ(Of(0.01L), (Bytes{0x0A, 0xD7, 0xA3, 0x70, 0x3D, 0x0A, 0xD7, 0xA3, 0xF8, 0x3F}));
  EXPECT_EQ(Of(-2), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0}));
  EXPECT_EQ(Of(0), Bytes(10, 0));
  EXPECT_EQ(FromBytes(Bytes{0x0A, 0xD7, 0xA3, 0x70, 0x3D, 0x0A, 0xD7, 0xA3, 0xF8, 0x3F}), 0.01L);
  // Patterns the FPU would not produce itself pass through unchanged.
  for (const Bytes& odd : {Bytes{1, 2, 3, 4, 5, 6, 7, 0xC0, 0xFF, 0x7F},   // quiet NaN with payload
                           Bytes{9, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF},   // signalling NaN, negative
                           Bytes{0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F},   // unnormal
                           Bytes{1, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0x00},   // pseudo-denormal
                           Bytes{1, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x80},   // negative denormal
                           Bytes{0, 0, 0, 0, 0, 0, 0, 0x00, 0xFF, 0x7F}})  // pseudo-infinity
    EXPECT_EQ(Of(FromBytes(odd)), odd);
}

TEST(ConfigRecord, FieldsLieAtTheirOffsets) {
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Dt = 1;
  s.A1 = 0.01L;
  s.F2 = -2;
  s.X[1] = 3;
  s.UZ[60] = 0.01L;
  s.Present[60] = 1;
  s.Present[1] = 2;
  FillConfigRecord(s);
  const ConfigRecordBuffer& rec = s.ConfigRecord;
  EXPECT_EQ(At(rec, 0), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
  EXPECT_EQ(At(rec, 10), Of(0.01L));
  EXPECT_EQ(At(rec, 100), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0}));
  EXPECT_EQ(At(rec, 112), Of(3));
  EXPECT_EQ(At(rec, 3702), Of(0.01L));
  EXPECT_EQ(rec[3771], 1);
  EXPECT_EQ(rec[3712], 2);
  EXPECT_EQ(At(rec, 122), Of(0));  // X of slot 2
}

TEST(ConfigRecord, FillNeverWritesPaddingNorWorkingCopies) {
  SimState s = Filled();
  for (std::size_t i : {110u, 111u, 3772u, 3773u, 3774u, 3775u}) s.ConfigRecord[i] = 0xA5;
  for (int k = 1; k <= kSlotCount; ++k) s.XNew[k] = s.ViewY[k] = s.UZNew[k] = 999;
  FillConfigRecord(s);
  for (std::size_t i : {110u, 111u, 3772u, 3773u, 3774u, 3775u}) EXPECT_EQ(s.ConfigRecord[i], 0xA5) << i;
  for (int k = 1; k <= kSlotCount; ++k) {
    EXPECT_EQ(At(s.ConfigRecord, record::kX + 10 * (k - 1)), Of(s.X[k]));
    EXPECT_EQ(At(s.ConfigRecord, record::kUZ + 10 * (k - 1)), Of(s.UZ[k]));
  }
}

TEST(ConfigRecord, ApplyInstallsEverySlotAndKeepsOddValues) {
  SimState src = Filled();
  Extended nan = 0;
  const Bytes payload{1, 2, 3, 4, 5, 6, 7, 0xC0, 0xFF, 0x7F};
  std::memcpy(&nan, payload.data(), 10);
  src.X[5] = nan;
  src.UY[60] = -0.0L;
  src.Present[7] = 2;
  src.Present[8] = 0;  // an empty slot's values travel all the same
  FillConfigRecord(src);

  SimState dst{};
  dst.ConfigRecord = src.ConfigRecord;
  ApplyConfigRecord(dst);
  for (int p = 0; p < 11; ++p) EXPECT_TRUE(SameBits(dst.*kParameterBlock[p], src.*kParameterBlock[p])) << p;
  for (int k = 1; k <= kSlotCount; ++k) {
    EXPECT_TRUE(SameBits(dst.X[k], src.X[k])) << k;
    EXPECT_TRUE(SameBits(dst.Y[k], src.Y[k])) << k;
    EXPECT_TRUE(SameBits(dst.Z[k], src.Z[k])) << k;
    EXPECT_TRUE(SameBits(dst.UX[k], src.UX[k])) << k;
    EXPECT_TRUE(SameBits(dst.UY[k], src.UY[k])) << k;
    EXPECT_TRUE(SameBits(dst.UZ[k], src.UZ[k])) << k;
    EXPECT_EQ(dst.Present[k], src.Present[k]) << k;
    EXPECT_TRUE(SameBits(dst.XNew[k], src.X[k])) << k;
    EXPECT_TRUE(SameBits(dst.ViewX[k], src.X[k])) << k;
    EXPECT_TRUE(SameBits(dst.ViewZ[k], src.Z[k])) << k;
    EXPECT_TRUE(SameBits(dst.UYNew[k], src.UY[k])) << k;
  }
  EXPECT_EQ(At(dst.ConfigRecord, record::kX + 40), payload);
  EXPECT_TRUE(std::signbit(dst.UY[60]));
  EXPECT_EQ(dst.Present[7], 2);
  // Nothing outside the record is touched.
  EXPECT_EQ(dst.TaonCount, 0);
  EXPECT_TRUE(dst.CurrentName.empty());

  // And back: the record that comes out is the record that went in.
  FillConfigRecord(dst);
  EXPECT_EQ(dst.ConfigRecord, src.ConfigRecord);
}

TEST(ConfigFile, SavedAndReopenedBitForBit) {
  TempDir dir;
  SimState s = Filled();
  s.ConfigRecord[110] = 0x11;  // padding received from an earlier file is written back as it was
  FillConfigRecord(s);
  const std::string path = dir / "run.pln";
  WriteConfigFile(s, path);
  EXPECT_EQ(std::filesystem::file_size(path), 3776u);
  const Bytes onDisk = ReadBytes(path);
  EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), s.ConfigRecord.begin()));

  SimState t{};
  ReadConfigFile(t, path);
  EXPECT_EQ(t.ConfigRecord, s.ConfigRecord);
  ApplyConfigRecord(t);
  for (int k = 1; k <= kSlotCount; ++k) EXPECT_TRUE(SameBits(t.UZ[k], s.UZ[k]));
}

TEST(ConfigFile, OnlyTheFirstRecordCountsAndAWriteLeavesOne) {
  TempDir dir;
  const std::string path = dir / "two.pln";
  Bytes two(7552);
  for (std::size_t i = 0; i < two.size(); ++i) two[i] = static_cast<std::uint8_t>(i < 3776 ? i * 7 : 0xEE);
  WriteBytes(path, two);
  SimState s{};
  ReadConfigFile(s, path);
  EXPECT_TRUE(std::equal(s.ConfigRecord.begin(), s.ConfigRecord.end(), two.begin()));
  WriteConfigFile(s, path);
  EXPECT_EQ(std::filesystem::file_size(path), 3776u);
}

TEST(ConfigFile, AShortMissingOrFolderPathChangesNothing) {
  TempDir dir;
  WriteBytes(dir / "short.pln", Bytes(3775, 0x42));
  SimState s{};
  s.ConfigRecord.fill(0x17);
  const ConfigRecordBuffer before = s.ConfigRecord;
  EXPECT_EQ(ReadError(s, dir / "short.pln"), "Read beyond end of file");
  EXPECT_EQ(ReadError(s, dir / "missing.pln"), "File not found");
  EXPECT_EQ(ReadError(s, dir.path()), "File access denied");
  EXPECT_EQ(ReadError(s, ""), "Invalid filename");
  EXPECT_EQ(s.ConfigRecord, before);
}

TEST(ConfigFile, OnlyARegularFileOrALinkToOneLoadsAndNothingWaits) {
  TempDir dir;
  SimState w = Filled();
  FillConfigRecord(w);
  WriteConfigFile(w, dir / "real.pln");
  ASSERT_EQ(::mkfifo((dir / "pipe.pln").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((dir / "real.pln").c_str(), (dir / "link.pln").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "pipe.pln").c_str(), (dir / "linkpipe.pln").c_str()), 0);
  const struct {
    std::string path;
    const char* error;  // empty: loads
  } cases[] = {
      {dir / "real.pln", ""},
      {dir / "link.pln", ""},
      {dir / "pipe.pln", "File access denied"},  // a pipe with no writer
      {dir / "linkpipe.pln", "File access denied"},
      {dir.path(), "File access denied"},
      {"/dev/null", "File access denied"},
      {dir / "missing.pln", "File not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(CanLoadConfiguration(c.path), c.error[0] == '\0');
    // Both the probe and the load (which the batch runner uses too) must
    // return at once; a child that waits is ended by its alarm.
    const std::string got = RunInChild([&] {
      ::alarm(5);
      SimState s{};
      ReadConfigFile(s, c.path);
      return std::string(s.ConfigRecord == w.ConfigRecord ? "" : "<other bytes>");
    });
    EXPECT_EQ(got, c.error);
  }
}

TEST(ConfigFile, AReadOnlyConfigurationLoadsButIsNotOverwritten) {
  TempDir dir;
  const std::string path = dir / "ro.pln";
  SimState s = Filled();
  FillConfigRecord(s);
  WriteConfigFile(s, path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  HandToChild(dir.path());
  HandToChild(path);
  const std::string result = RunInChild(
      [&] {
        SimState t{};
        ReadConfigFile(t, path);
        if (t.ConfigRecord != s.ConfigRecord) return std::string("<record differs>");
        t.ConfigRecord.fill(0);
        return WriteError(t, path);
      },
      true);
  if (result == kNoDrop) GTEST_SKIP() << "root cannot drop its privileges here";
  EXPECT_EQ(result, "File access denied");
  const Bytes onDisk = ReadBytes(path);
  EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), s.ConfigRecord.begin()));
}

TEST(ConfigFile, WriteFailuresKeepTheOldFile) {
  TempDir dir;
  SimState s = Filled();
  FillConfigRecord(s);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(WriteError(s, "/dev/full"), "Disk full");
  }

  const std::string path = dir / "c.pln";
  const Bytes old(3776, 0x5A);
  WriteBytes(path, old);
  const std::string result = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2000, 2000};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("<setrlimit failed>");
    return WriteError(s, path);
  });
  EXPECT_EQ(result, "Disk full");
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"c.pln"});

  // A folder that takes no new file.
  const std::string ro = dir / "ro";
  std::filesystem::create_directory(ro);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
  const std::string denied = RunInChild([&] { return WriteError(s, ro + "/new.pln"); }, true);
  if (denied != kNoDrop) {
    EXPECT_EQ(denied, "File access denied");
  }
}

TEST(ConfigFile, ALinkedConfigurationIsReplacedBehindTheLink) {
  TempDir dir;
  std::filesystem::create_directory(dir / "store");
  WriteBytes(dir / "store/real.pln", Bytes(3776, 1));
  ASSERT_EQ(::symlink((dir / "store/real.pln").c_str(), (dir / "link.pln").c_str()), 0);
  SimState s = Filled();
  FillConfigRecord(s);
  WriteConfigFile(s, dir / "link.pln");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.pln"));
  const Bytes onDisk = ReadBytes(dir / "store/real.pln");
  ASSERT_EQ(onDisk.size(), 3776u);
  EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), s.ConfigRecord.begin()));
}

}  // namespace
}  // namespace qd
