#include "core/view/frame_pacer.h"

#include <algorithm>

namespace qd {

std::int64_t FramePacer::FrameNs(double refreshHz) {
  return static_cast<std::int64_t>(1e9 / (refreshHz >= 1 ? refreshHz : 60));
}

FramePacer::FramePacer(double refreshHz) : frameNs_(FrameNs(refreshHz)), intervalNs_(frameNs_) {}

void FramePacer::Restart(double refreshHz) {
  frameNs_ = FrameNs(refreshHz);
  fresh_ = true;
  Space();
}

void FramePacer::Shown(std::int64_t startNs, std::int64_t endNs) {
  recent_[next_] = std::max<std::int64_t>(endNs - startNs, 0);
  next_ = (next_ + 1) % kRecent;
  if (count_ < kRecent) ++count_;
  lastNs_ = startNs;
  fresh_ = false;
  Space();
}

void FramePacer::Space() {
  // Judged by the cheapest of the last few copies: one slow copy (the first
  // of a run repaints more, or the machine was busy for a moment) must not
  // space the frames out; a display whose copies are all dear does.
  intervalNs_ = frameNs_;
  if (count_ < kRecent) return;
  const std::int64_t cost = *std::min_element(recent_, recent_ + kRecent);
  intervalNs_ = std::max(frameNs_, static_cast<std::int64_t>(static_cast<double>(cost) / kShowingShare));
}

}  // namespace qd
