#pragma once
// When a run shows its latest drawing. A display shows only its own frames,
// so a copy to the screen more often than once a frame is wasted; and where
// a copy is dear (a remote display, a loaded machine) the frames are spaced
// out further, so that showing the run never takes more than a small share
// of its time.
#include <cstdint>

namespace qd {

class FramePacer {
 public:
  // The most of a run's time that copies to the screen may take, once the
  // first few copies have shown what a copy costs.
  static constexpr double kShowingShare = 0.015;

  // refreshHz: the display's frames per second; 0 or less when unknown (60
  // is assumed then).
  explicit FramePacer(double refreshHz);

  // A new run on a display of refreshHz frames per second: its first step is
  // shown at once, and what the copies cost is still known.
  void Restart(double refreshHz);

  // Whether the drawing is to be shown at nowNs. The first time it is.
  bool Due(std::int64_t nowNs) const { return fresh_ || nowNs - lastNs_ >= intervalNs_; }

  // A copy to the screen began at startNs and ended at endNs.
  void Shown(std::int64_t startNs, std::int64_t endNs);

 private:
  static std::int64_t FrameNs(double refreshHz);
  void Space();

  std::int64_t frameNs_;
  std::int64_t intervalNs_;
  std::int64_t lastNs_ = 0;
  static constexpr int kRecent = 4;
  std::int64_t recent_[kRecent] = {};  // the costs of the last copies
  int next_ = 0, count_ = 0;           // count_: copies so far, up to kRecent
  bool fresh_ = true;                  // nothing shown since the start
};

}  // namespace qd
