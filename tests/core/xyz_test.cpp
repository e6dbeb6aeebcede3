#include "core/persistence/xyz.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>

#include "comma_locale.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "test_files.h"

namespace qd {
namespace {

using testing::CommaNumericLocale;
using testing::ErrorOf;
using testing::TempDir;

bool SameBits(Extended a, Extended b) { return std::memcmp(&a, &b, 10) == 0; }

// A value from every corner of the format: ordinary, tiny, subnormal, huge,
// signed zeros, and every significand bit at random.
Extended RandomValue(std::mt19937_64& rng) {
  switch (rng() % 8) {
    case 0:
      return std::ldexp(static_cast<Extended>(rng()) * 0x1p-64L, static_cast<int>(rng() % 32700) - 16350);
    case 1:  // subnormal
      return std::ldexp(static_cast<Extended>(rng() >> (rng() % 63)), -16445) * ((rng() & 1) ? 1 : -1);
    case 2:
      return std::numeric_limits<Extended>::max() * ((rng() & 1) ? 1 : -1);
    case 3:
      return (rng() & 1) ? 0.0L : -0.0L;
    default:
      return std::ldexp(static_cast<Extended>(rng()) * 0x1p-64L, static_cast<int>(rng() % 40) - 20) *
             ((rng() & 1) ? 1 : -1);
  }
}

RunState RandomState(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  RunState s{};
  s.TaonCount = kSlotCount;
  s.StepCount = static_cast<std::int32_t>(rng() % 100000);
  for (int k = 1; k <= kSlotCount; ++k) {
    s.Present[k] = rng() % 3 != 0;
    for (auto a : {&RunState::X, &RunState::Y, &RunState::Z, &RunState::UX, &RunState::UY, &RunState::UZ})
      (s.*a)[k] = RandomValue(rng);
  }
  return s;
}

std::string Frame(const RunState& s, const StepOptions& o = {}) {
  std::string text;
  AppendXyzFrame(text, s, o, 1.25L, -0.5L);
  return text;
}

// Written, read back and installed, a state's particles come back bit for
// bit under a comma locale as under a full stop; the empty slots are empty.
// The threads of a run write the same text as one.
TEST(Xyz, ParticlesComeBackBitForBitInEitherLocale) {
  for (const bool comma : {false, true}) {
    std::optional<CommaNumericLocale> locale;
    if (comma) {
      locale.emplace();
      if (!locale->active()) GTEST_SKIP() << "no decimal-comma locale";
    }
    for (std::uint64_t seed = 1; seed <= 200; ++seed) {
      const RunState s = RandomState(seed);
      const std::string text = Frame(s);
      ASSERT_EQ(text.find(','), std::string::npos) << text;
      // Threads that share the lines put them in the same order.
      static WorkerPool pool;
      for (int threads : {2, 3}) {
        std::string shared;
        AppendXyzFrame(shared, s, {}, 1.25L, -0.5L, &pool, threads);
        ASSERT_EQ(shared, text) << threads << " threads";
      }
      const std::vector<XyzFrame> frames = ParseXyz(text);
      ASSERT_EQ(frames.size(), 1u);
      EXPECT_EQ(frames[0].count, CountPresent(s));
      EXPECT_EQ(frames[0].step, s.StepCount);
      RunState back{};
      back.TaonCount = kSlotCount;
      back.X[7] = 99;  // replaced, present or not
      InstallXyzFrame(back, frames[0]);
      for (int k = 1; k <= kSlotCount; ++k) {
        ASSERT_EQ(back.Present[k] != 0, s.Present[k] != 0) << k;
        for (auto a : {&RunState::X, &RunState::Y, &RunState::Z, &RunState::UX, &RunState::UY, &RunState::UZ})
          ASSERT_TRUE(SameBits((back.*a)[k], s.Present[k] ? (s.*a)[k] : 0.0L))
              << "seed " << seed << " slot " << k << " " << (s.*a)[k];
        EXPECT_TRUE(SameBits(back.XNew[k], back.X[k]) && SameBits(back.ViewZ[k], back.Z[k]));
      }
    }
  }
}

// The frames' own number writer says exactly what to_chars says, over the
// magnitudes it handles itself, their edges and ties, and beyond.
TEST(Xyz, NumbersReadAsToCharsWritesThem) {
  std::vector<Extended> values = {1,
                                  -1,
                                  0.1L,
                                  1e-4L,
                                  9.99999999999999999999e-5L,
                                  1e-5L,
                                  1e-7L,
                                  1e-8L,
                                  1e20L,
                                  99999999999999999999.5L,
                                  1e21L,
                                  0.5L,
                                  1234.5L,
                                  0.000123L,
                                  2.5e-6L,
                                  9.999999999999999999995e-1L,
                                  123456789012345678901.0L,
                                  0x1p-64L,
                                  0x1.fffffffffffffffep63L};
  std::mt19937_64 rng(7);
  for (int i = 0; i < 200000; ++i) {
    const Extended v = std::ldexp(static_cast<Extended>(rng() | (1ULL << 63)) * 0x1p-64L,
                                  static_cast<int>(rng() % 140) - 70);
    values.push_back(i % 2 ? v : -v);
    values.push_back(std::nearbyint(v * 1024) / 1024);  // short binary fractions: ties come up
  }
  for (int i = 0; i < 1000; ++i) values.push_back(RandomValue(rng));
  for (const Extended v : values) {
    char want[64], got[64];
    const auto w = std::to_chars(want, want + sizeof want, v, std::chars_format::general, 21);
    const char* end = LosslessChars(got, v);
    ASSERT_EQ(std::string(static_cast<const char*>(got), end), std::string(want, w.ptr))
        << static_cast<double>(v);
  }
}

TEST(Xyz, CommentLineCarriesStepEnergiesKindsAndTheWallsBox) {
  RunState s{};
  s.TaonCount = kSlotCount;
  s.StepCount = 42;
  for (int k : {3, 45, 46, 60}) s.Present[k] = 1;
  s.X[3] = 0.1L;
  StepOptions o;
  o.force.secondKindCount = 15;
  const std::string plain = Frame(s, o);
  EXPECT_EQ(plain.substr(0, plain.find('\n', 2) + 1),
            "4\nProperties=species:S:1:pos:R:3:velo:R:3:slot:I:1:kind:I:1 step=42 kinetic_energy=1.25 "
            "potential_energy=-0.5 total_energy=0.75\n");
  EXPECT_NE(plain.find("\nCl 0.100000000000000000001 0 0 0 0 0 3 1\n"), std::string::npos) << plain;
  EXPECT_NE(plain.find("\nCl 0 0 0 0 0 0 45 1\nS 0 0 0 0 0 0 46 2\nS 0 0 0 0 0 0 60 2\n"), std::string::npos);
  const std::pair<Walls, const char*> boxes[] = {
      {Walls::Thermos3X3, " Lattice=\"3 0 0 0 3 0 0 0 3\" Origin=\"-1.5 -1.5 -1.5\" pbc=\"F F F\"\n"},
      {Walls::ThermosNXN, " Lattice=\"200 0 0 0 200 0 0 0 200\" Origin=\"-100 -100 -100\" pbc=\"F F F\"\n"},
  };
  for (const auto& [walls, box] : boxes) {
    o.walls = walls;
    EXPECT_NE(Frame(s, o).find(std::string("total_energy=0.75") + box), std::string::npos) << box;
  }
}

// Files of other tools: a plain XYZ comment, ASE's momenta (mass times
// velocity), columns the program does not read, Windows line ends, slots in
// any order.
TEST(Xyz, ReadsOtherToolsFrames) {
  const std::string plain = "2\nwater, sort of\nO 1 2 3\nH 4.5 -5 6e-1\n";
  const auto p = ParseXyz(plain);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].count, 2);
  EXPECT_FALSE(p[0].hasVelocities);
  EXPECT_FALSE(p[0].step.has_value());
  EXPECT_TRUE(p[0].Present[1] && p[0].Present[2] && !p[0].Present[3]);
  EXPECT_EQ(p[0].Z[2], 0.6L);

  const std::string ase =
      "1\r\nLattice=\"1 0 0 0 1 0 0 0 1\" Properties=species:S:1:pos:R:3:Z:I:1:momenta:R:3 pbc=\"T T T\"\r\n"
      "C 0.5 0.25 0.125 6 1 -2 3\r\n\r\n"
      "2\nProperties=species:S:1:pos:R:3:slot:I:1 step=7 flag\nS 1 1 1 59\nCl 2 2 2 4\n";
  const auto a = ParseXyz(ase);
  ASSERT_EQ(a.size(), 2u);
  EXPECT_TRUE(a[0].hasVelocities);
  EXPECT_EQ(a[0].X[1], 0.5L);
  EXPECT_EQ(a[0].UX[1], 1 / 12.011L);  // carbon's standard mass
  EXPECT_EQ(a[0].UY[1], -2 / 12.011L);
  EXPECT_EQ(a[0].UZ[1], 3 / 12.011L);
  EXPECT_EQ(a[1].step, 7);
  EXPECT_TRUE(a[1].Present[59] && a[1].Present[4] && !a[1].Present[1]);
  EXPECT_EQ(a[1].X[4], 2);
}

// Velocities from velo as they are, from momenta over the masses column or
// over the species' standard mass; without a slot column each kind's
// species goes to its kind's slots, in the file's order, the rest of a kind
// that has too many to the other kind's free slots from the top down.
TEST(Xyz, MomentaAndSpeciesGiveVelocitiesAndSlots) {
  const std::string head = "Properties=species:S:1:pos:R:3:";
  struct Case {
    std::string text;
    int second;
    std::vector<std::pair<int, Extended>> slotUx;  // slot and its velocity's x
  };
  const Case cases[] = {
      {"2\n" + head + "momenta:R:3:masses:R:1\nCl 0 0 0 3 0 0 1.5\nS 0 0 0 -1 0 0 0.25\n",
       30,
       {{1, 2}, {31, -4}}},
      {"2\n" + head + "momenta:R:3\nS 0 0 0 32.06 0 0\nCl 0 0 0 -35.45 0 0\n", 15, {{46, 1}, {1, -1}}},
      {"1\n" + head + "momenta:R:3:velo:R:3\nH 0 0 0 7 7 7 0.5 0 0\n", 30, {{1, 0.5L}}},
      {"1\n" + head + "velo:R:3:momenta:R:3\nH 0 0 0 0.5 0 0 7 7 7\n", 30, {{1, 0.5L}}},
      {"1\n" + head + "momenta:R:3\nX 0 0 0 4 0 0\n", 30, {{1, 4}}},
      {"3\n\nS 0 0 0\nO 0 0 0\nS 0 0 0\n", 10, {{51, 0}, {1, 0}, {52, 0}}},
      {"2\n" + head + "slot:I:1\nS 0 0 0 5\nCl 0 0 0 40\n", 30, {{5, 0}, {40, 0}}},
  };
  for (const Case& c : cases) {
    const auto frames = ParseXyz(c.text, c.second);
    ASSERT_EQ(frames.size(), 1u) << c.text;
    int present = 0;
    for (int k = 1; k <= kSlotCount; ++k) present += frames[0].Present[k];
    EXPECT_EQ(present, static_cast<int>(c.slotUx.size())) << c.text;
    for (const auto& [slot, ux] : c.slotUx) {
      EXPECT_TRUE(frames[0].Present[slot]) << c.text << " slot " << slot;
      EXPECT_EQ(frames[0].UX[slot], ux) << c.text << " slot " << slot;
    }
  }
  // Twelve of the second kind where it has ten slots, 52 of the first where
  // it has fifty: the rest fill the other kind's slots from the top down.
  for (const auto& [first, second, extra] :
       {std::tuple{48, 12, std::vector<int>{50, 49}}, {52, 8, std::vector<int>{60, 59}}}) {
    std::string text = std::to_string(first + second) + "\n\n";
    for (int k = 0; k < second; ++k) text += "S 1 0 0\n";
    for (int k = 0; k < first; ++k) text += "Cl 2 0 0\n";
    const XyzFrame f = ParseXyz(text, 10)[0];
    for (int k = 1; k <= kSlotCount; ++k) ASSERT_TRUE(f.Present[k]) << k;
    for (int k = 51; k <= 50 + std::min(second, 10); ++k) EXPECT_EQ(f.X[k], 1) << k;
    for (int k = 1; k <= std::min(first, 50); ++k) EXPECT_EQ(f.X[k], 2) << k;
    for (const int k : extra) EXPECT_EQ(f.X[k], second > 10 ? 1 : 2) << k;
  }
}

// Every size in a file is bounded: a Properties line with widths adding up
// past 2^31 (which once wrapped an int), more than 64 triples, a line over
// 1 MiB; a long comment line of many pairs is read without keeping them.
TEST(Xyz, SizesInTheFileAreBounded) {
  TempDir dir;
  std::string wrap = "1\nProperties=species:S:1:pos:R:3";
  wrap.reserve(39u << 20);
  for (int k = 0; k < 4300000; ++k) wrap += ":a:S:1000";
  wrap += "\nCl 0 0 0\n";
  testing::WriteText(dir / "wrap.xyz", wrap);
  EXPECT_EQ(ErrorOf<FileError>([&] { ReadXyzFrame(dir / "wrap.xyz"); }),
            "XYZ line 2: the line is longer than 1 MiB, more than any frame needs");
  std::string many = "1\nProperties=pos:R:3";
  for (int k = 0; k < 64; ++k) many += ":a:S:1";
  EXPECT_EQ(ErrorOf<FileError>([&] { ParseXyz(many + "\n"); }),
            "XYZ line 2: Properties names more than 64 columns");
  // 64 triples, 63 of the widest columns, make a line of 63003 fields: read.
  std::string wide = "1\nProperties=pos:R:3";
  for (int k = 0; k < 63; ++k) wide += ":a:I:1000";
  wide += "\n1 2 3";
  for (int k = 0; k < 63000; ++k) wide += " 0";
  EXPECT_EQ(ParseXyz(wide + "\n")[0].Z[1], 3);
  // A comment line of 50000 pairs and one of them Properties, read at once.
  std::string pairs = "1\n";
  for (int k = 0; k < 50000; ++k) pairs += "key" + std::to_string(k) + "=\"v a l\" ";
  pairs += "step=12 Properties=species:S:1:pos:R:3:velo:R:3\nCl 1 2 3 4 5 6\n";
  ASSERT_LT(pairs.size(), kXyzMaxLineBytes);
  testing::WriteText(dir / "pairs.xyz", pairs);
  const XyzFrame f = ReadXyzFrame(dir / "pairs.xyz");
  EXPECT_EQ(f.step, 12);
  EXPECT_EQ(f.UZ[1], 6);
}

// Damaged text is refused with the line and what is wrong, never read half.
TEST(Xyz, DamagedFramesNameTheLineAndTheFault) {
  std::string sixtyOne = "61\n\n";
  for (int k = 0; k < 61; ++k) sixtyOne += "Cl 0 0 0\n";
  const std::string head = "2\nProperties=species:S:1:pos:R:3:slot:I:1\n";
  const std::pair<std::string, std::string> cases[] = {
      {sixtyOne, "XYZ line 1: 61 particles; at most 60 fit"},
      {"x\n\n", "XYZ line 1: a frame must start with its number of particles, not 'x'"},
      {"-1\n\n", "XYZ line 1: a frame must start"},
      {"2 3\n\n", "XYZ line 1: a frame must start"},
      {"2\n", "XYZ line 1: the frame ends before its comment line"},
      {"3\n\nCl 0 0 0\nCl 1 1 1\n", "XYZ line 4: the file ends after 2 of the 3 particles"},
      {"1\n\nCl 0 0\n", "XYZ line 3: 3 columns where the frame has 4"},
      {"1\n\nCl 0 0 0 0\n", "XYZ line 3: 5 columns where the frame has 4"},
      {"1\n\nCl 0 nan 0\n", "XYZ line 3: 'nan' is not a number"},
      {"1\n\nCl 0 0 -inf\n", "XYZ line 3: '-inf' is not a number"},
      {"1\n\nCl 1e5000 0 0\n", "XYZ line 3: '1e5000' is too large"},
      {"1\n\nCl 1e-5000 0 0\n", "XYZ line 3: '1e-5000' is too small"},
      {"1\n\nCl 0,5 0 0\n", "XYZ line 3: '0,5' is not a number"},
      {"1\n\nCl 1.2.3 0 0\n", "XYZ line 3: '1.2.3' is not a number"},
      {"1\n\nCl . 0 0\n", "XYZ line 3: '.' is not a number"},
      {head + "Cl 0 0 0 5\nS 1 1 1 5\n", "XYZ line 4: slot 5 comes twice"},
      {head + "Cl 0 0 0 0\nS 1 1 1 5\n", "XYZ line 3: slot '0' is not one of 1 to 60"},
      {head + "Cl 0 0 0 61\nS 1 1 1 5\n", "XYZ line 3: slot '61' is not one of 1 to 60"},
      {head + "Cl 0 0 0 1.5\nS 1 1 1 5\n", "XYZ line 3: slot '1.5' is not one of 1 to 60"},
      {"1\nProperties=species:S:1\nCl\n", "XYZ line 2: Properties has no pos:R:3 column"},
      {"1\nProperties=species:S:1:pos:R\nCl\n", "XYZ line 2: Properties needs name:type:columns triples"},
      {"1\nProperties=species:S:1:pos:R:2\nCl 0 0\n", "XYZ line 2: Properties needs pos:R:3"},
      {"1\nProperties=species:S:1:pos:R:3:pos:R:3\nCl 0 0 0 0 0 0\n",
       "XYZ line 2: Properties names 'pos' twice"},
      {"1\nProperties=species:S:1:pos:Q:3\nCl 0 0 0\n", "XYZ line 2: Properties has a column 'pos:Q:3'"},
      {"1\nLattice=\"1 0 0\nCl 0 0 0\n", "XYZ line 2: a quotation mark is not closed"},
      {"1\nProperties=pos:R:3:a:S:1001\nCl 0 0 0\n",
       "XYZ line 2: Properties has a column 'a:S:1001' it cannot"},
      {"1\nProperties=pos:R:3 Properties=pos:R:3\n0 0 0\n",
       "XYZ line 2: the comment line gives Properties twice"},
      {"1\nProperties=pos:R:3:velo:R:3:velocities:R:3\n", "XYZ line 2: Properties names 'velocities' twice"},
      {"1\nProperties=pos:R:3:masses:R:3\n", "XYZ line 2: Properties needs masses:R:1"},
      {"1\nProperties=species:S:1:pos:R:3:momenta:R:3\nQq 0 0 0 1 1 1\n",
       "XYZ line 3: momenta without a masses column need element symbols; 'Qq' is none"},
      {"1\nProperties=pos:R:3:momenta:R:3\n0 0 0 1 1 1\n",
       "XYZ line 3: momenta without a masses column need element symbols; the frame has no species column"},
      {"1\nProperties=species:S:1:pos:R:3:momenta:R:3:masses:R:1\nH 0 0 0 1 1 1 -2\n",
       "XYZ line 3: mass '-2' is not above 0"},
      {"1\nProperties=species:S:1:pos:R:3:momenta:R:3:masses:R:1\nH 0 0 0 1 1 1 0\n",
       "XYZ line 3: mass '0' is not above 0"},
      {"1\nProperties=species:S:1:pos:R:3:momenta:R:3:masses:R:1\nH 0 0 0 1e4000 1 1 1e-4000\n",
       "XYZ line 3: a momentum over its mass is too large"},
      {"1\n\nCl " + std::string(59, '1') + "x" + std::string(40, '1') + " 0 0\n",
       "XYZ line 3: '" + std::string(59, '1') + "x\u2026' is not a number"},
      {"1\n\nCl 0 \x1b[31m\xff 0\n", "XYZ line 3: '?[31m?' is not a number"},
      {"1\n\nCl 0 \u00e9t\u00e9 0\n", "XYZ line 3: '\u00e9t\u00e9' is not a number"},
      {"1\n" + std::string(kXyzMaxLineBytes + 1, ' ') + "\n", "XYZ line 2: the line is longer than 1 MiB"},
      {std::string(kXyzMaxLineBytes - 2, ' ') + "\r\nx" + std::string(100, 'x') + "\n",
       "XYZ line 2: a frame must start with its number of particles, not '" + std::string(60, 'x') +
           "\u2026'"},
  };
  for (const auto& [text, message] : cases) {
    try {
      ParseXyz(text);
      ADD_FAILURE() << "read: " << text;
    } catch (const FileError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, message.size()), message) << text;
    }
  }
}

TEST(Xyz, FilesGiveTheFrameAskedForOrAClearRefusal) {
  TempDir dir;
  std::string three;
  for (int step : {0, 5, 10}) {
    RunState s{};
    s.TaonCount = kSlotCount;
    s.StepCount = step;
    s.Present[1] = 1;
    s.X[1] = step;
    AppendXyzFrame(three, s, {}, 0, 0);
  }
  testing::WriteText(dir / "run.xyz", three);
  const std::pair<std::optional<long>, int> picks[] = {{std::nullopt, 10}, {0, 0}, {1, 5}, {-1, 10}, {-3, 0}};
  for (const auto& [index, step] : picks) EXPECT_EQ(ReadXyzFrame(dir / "run.xyz", index).step, step);

  // A long trajectory is read a piece at a time: the frames across the
  // pieces' edges come back as the whole text gives them.
  std::string many;
  for (std::uint64_t seed = 1; seed <= 150; ++seed) AppendXyzFrame(many, RandomState(seed), {}, 0, 0);
  ASSERT_GT(many.size(), 8u << 16);
  testing::WriteText(dir / "many.xyz", many);
  const std::vector<XyzFrame> all = ParseXyz(many);
  for (const long index : {0L, 1L, 77L, 149L, -1L, -2L, -150L}) {
    const XyzFrame f = ReadXyzFrame(dir / "many.xyz", index);
    const XyzFrame& want = all[static_cast<std::size_t>(index < 0 ? 150 + index : index)];
    EXPECT_EQ(f.step, want.step) << index;
    for (int k = 1; k <= kSlotCount; ++k)
      ASSERT_TRUE(f.Present[k] == want.Present[k] && SameBits(f.X[k], want.X[k]) &&
                  SameBits(f.UZ[k], want.UZ[k]))
          << index << " slot " << k;
  }

  testing::WriteText(dir / "empty.xyz", "");
  testing::WriteText(dir / "blank.xyz", "\n  \n");
  testing::WriteText(dir / "binary.xyz", std::string("1\n\nCl 0 0 0\0", 12));
  ASSERT_EQ(::mkfifo((dir / "fifo.xyz").c_str(), 0600), 0);
  const std::pair<std::pair<std::string, std::optional<long>>, std::string> refused[] = {
      {{dir / "run.xyz", 3}, "no frame 3 (the file has 3 frames, 0 to 2)"},
      {{dir / "run.xyz", -4}, "no frame -4 (the file has 3 frames, 0 to 2)"},
      {{dir / "missing.xyz", {}}, "File not found"},
      {{dir / "empty.xyz", {}}, "no XYZ frame in the file"},
      {{dir / "blank.xyz", {}}, "no XYZ frame in the file"},
      {{dir / "binary.xyz", {}}, "not an XYZ file (it holds binary data)"},
      {{dir / "fifo.xyz", {}}, "File access denied"},
      {{dir.path(), {}}, "File access denied"},
  };
  for (const auto& [what, message] : refused) {
    try {
      ReadXyzFrame(what.first, what.second);
      ADD_FAILURE() << what.first;
    } catch (const FileError& e) {
      EXPECT_EQ(e.what(), message) << what.first;
    }
  }
}

// The text after an XYZ file's last '@' is a frame number or a fault,
// unless the whole text names a file that is there.
TEST(Xyz, StartPointersSplitOnlyBeforeANumber) {
  TempDir dir;
  testing::WriteText(dir / "e.xyz@1", "1\n\nCl 0 0 0\n");
  const std::string e = dir / "e.xyz@1";
  const std::string notWhole = " is not a whole number";
  const std::pair<std::string, batch::StartPointer> cases[] = {
      {"a.xyz", {"a.xyz", std::nullopt, true, ""}},
      {"a.xyz@3", {"a.xyz", 3, true, ""}},
      {"a.xyz@-1", {"a.xyz", -1, true, ""}},
      {"me@b.xyz", {"me@b.xyz", std::nullopt, true, ""}},
      {"a@1.xyz@2", {"a@1.xyz", 2, true, ""}},
      {"@5", {"@5", std::nullopt, false, ""}},
      {"a.qra@5", {"a.qra@5", std::nullopt, false, ""}},
      {e, {e, std::nullopt, true, ""}},
      {dir / "e.xyz@2", {dir / "e.xyz", 2, true, ""}},
      {"a.xyz@", {"a.xyz", std::nullopt, true, "frame ''" + notWhole}},
      {"a.xyz@abc", {"a.xyz", std::nullopt, true, "frame 'abc'" + notWhole}},
      {"a.xyz@+1", {"a.xyz", std::nullopt, true, "frame '+1'" + notWhole}},
      {"a.xyz@ 1", {"a.xyz", std::nullopt, true, "frame ' 1'" + notWhole}},
      {"a.xyz@2x", {"a.xyz", std::nullopt, true, "frame '2x'" + notWhole}},
      {"a.xyz@-", {"a.xyz", std::nullopt, true, "frame '-'" + notWhole}},
      {"a.xyz@99999999999999999999",
       {"a.xyz", std::nullopt, true, "frame '99999999999999999999' is too far from 0"}},
  };
  for (const auto& [text, want] : cases) {
    const batch::StartPointer got = batch::SplitStartPointer(text);
    EXPECT_EQ(got.path, want.path) << text;
    EXPECT_EQ(got.index, want.index) << text;
    EXPECT_EQ(got.xyz, want.xyz) << text;
    EXPECT_EQ(got.problem, want.problem) << text;
  }
  RunState s{};
  s.TaonCount = kSlotCount;
  batch::InstallStartFrom(s, e);
  EXPECT_TRUE(s.Present[1]);
  EXPECT_EQ(ErrorOf<FileError>([&] { batch::InstallStartFrom(s, "a.xyz@abc"); }), "frame 'abc'" + notWhole);
  for (const auto& [name, xyz] : {std::pair{"a.xyz", true},
                                  {"A.XYZ", true},
                                  {"b.extxyz", true},
                                  {"a.pln", false},
                                  {"xyz", false},
                                  {"dir.xyz/a", false}})
    EXPECT_EQ(IsXyzName(name), xyz) << name;
}

}  // namespace
}  // namespace qd
