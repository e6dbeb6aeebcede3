// How often a run shows its drawing, simulated over one second of steps.
#include "core/view/frame_pacer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qd {
namespace {

constexpr std::int64_t kUs = 1000, kMs = 1000 * kUs, kSecond = 1000 * kMs;

struct Outcome {
  int frames = 0;
  std::int64_t copying = 0, elapsed = 0;
};

// Steps `stepNs` apart for a second; each shown frame costs copyNs(frame).
template <class CopyCost>
Outcome Simulate(double hz, std::int64_t stepNs, CopyCost copyNs) {
  FramePacer pacer(hz);
  Outcome o;
  std::int64_t now = 0;
  while (now < kSecond) {
    if (pacer.Due(now)) {
      const std::int64_t cost = copyNs(o.frames);
      pacer.Shown(now, now + cost);
      now += cost;
      o.copying += cost;
      ++o.frames;
    }
    now += stepNs;
  }
  o.elapsed = now;
  return o;
}

TEST(FramePacer, DisplayRateUnlessCopiesAreDear) {
  struct Case {
    const char* name;
    double hz;
    std::int64_t step, copy;
    int minFrames, maxFrames;
  };
  const Case kCases[] = {
      {"cheap copies", 60, 300 * kUs, 100 * kUs, 58, 61},
      {"rate unknown", 0, 300 * kUs, 100 * kUs, 58, 61},
      {"fast display", 144, 300 * kUs, 100 * kUs, 140, 145},
      {"steps slower than a frame", 60, 50 * kMs, 100 * kUs, 20, 21},
      {"dear copies", 60, 300 * kUs, 2 * kMs, 9, 12},
      {"remote display", 60, 300 * kUs, 40 * kMs, 4, 5},
  };
  for (const Case& c : kCases) {
    const Outcome o = Simulate(c.hz, c.step, [&](int) { return c.copy; });
    EXPECT_GE(o.frames, c.minFrames) << c.name;
    EXPECT_LE(o.frames, c.maxFrames) << c.name;
    // Beyond the first four frames, which come at the display's rate
    // whatever they cost.
    EXPECT_LE(double(o.copying - 4 * c.copy) / double(o.elapsed), FramePacer::kShowingShare * 1.01) << c.name;
  }
}

TEST(FramePacer, OneSlowCopyDoesNotSlowTheFramesForLong) {
  // The tenth copy takes 30 ms (the machine was busy); the others 100 us.
  const Outcome o = Simulate(60, 300 * kUs, [](int frame) { return frame == 9 ? 30 * kMs : 100 * kUs; });
  // A second at 60 frames, less the 30 ms copy and the spacing after it.
  EXPECT_GE(o.frames, 50);
}

TEST(FramePacer, ANewRunShowsItsFirstStepAtOnceAndKeepsWhatCopiesCost) {
  FramePacer pacer(60);
  for (int i = 0; i < 4; ++i) pacer.Shown(i * 20 * kMs, i * 20 * kMs + 2 * kMs);  // dear copies
  pacer.Restart(60);
  EXPECT_TRUE(pacer.Due(0));
  pacer.Shown(0, 2 * kMs);
  // Spaced as the copies cost, not at the display's rate.
  EXPECT_FALSE(pacer.Due(20 * kMs));
  EXPECT_TRUE(pacer.Due(2 * kMs / FramePacer::kShowingShare));
}

}  // namespace
}  // namespace qd
