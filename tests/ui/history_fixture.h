#pragma once
// The Run History window over a main window started by CommandsTest, with a
// history whose spacing does not depend on the machine's load, and the
// configurations and archives its tests run.
#include <QFile>
#include <cstdint>
#include <memory>

#include "core/persistence/run_archive.h"
#include "tests/ui/commands_fixture.h"
#include "ui/history/history_window.h"

namespace qd {

class HistoryWindow : public CommandsTest {
 protected:
  THistoryWindow& Open(TMainForm& f, std::size_t memoryLimit = RunHistory::kDefaultMemoryLimit) {
    // A clock on which a step and a snapshot cost the same, so that K (and
    // with it how many snapshots a run leaves) does not depend on the load
    // of the machine running the tests.
    f.History() = RunHistory(memoryLimit, [t = std::int64_t{0}]() mutable { return t += 1000; });
    window = std::make_unique<THistoryWindow>(f.CurrentRun(), f);
    f.SetWindows({.history = window.get()});
    return *window;
  }
  void TearDown() override {
    window.reset();
    CommandsTest::TearDown();
  }
  std::unique_ptr<THistoryWindow> window;
};

// Fourteen particles with a fast start, so that the 1.5 walls and the
// blockade of slots 1..4 all have work to do.
inline SimState WallCloud() {
  SimState c = TwoParticles();
  c.Dt = 0.01L;
  c.A1 = c.A2 = 0.01L;
  for (int s = 1; s <= 14; ++s) {
    c.Present[s] = 1;
    c.X[s] = 0.3L * (s % 5) - 0.6L;
    c.Y[s] = 0.2L * (s % 3) - 0.2L;
    c.Z[s] = 0.25L * (s / 5) - 0.3L;
    c.UX[s] = (s % 2 ? 1 : -1) * 0.9L;
    c.UY[s] = 0.3L;
    c.UZ[s] = (s % 3 ? 1 : -1) * 0.7L;
  }
  return c;
}

// An archive of `count` snapshots of WallCloud, steps 0, 10, 20, ..., in the
// test's folder, written whole as Save History writes one.
inline QString WriteArchive(const QString& path, int count) {
  std::vector<std::uint8_t> bytes = archive::EncodeHeader(StepOptions{});
  SimState s = WallCloud();
  for (int i = 0; i < count; ++i) {
    s.StepCount = 10 * i;
    s.X[1] = i / 1000.0L;
    const std::vector<std::uint8_t> record = archive::EncodeRecord({s.StepCount, {}, s, {}});
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
  return path;
}

}  // namespace qd
