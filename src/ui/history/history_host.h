#pragma once
// What the Run History window asks of the window whose run it shows: the
// run itself it observes directly (RunSignals).
#include <QImage>
#include <cstddef>
#include <functional>
#include <string>

#include "core/history/run_history.h"

namespace qd {

class HistoryHost {
 public:
  // Runs a handler; an exception it throws is shown as the host shows errors.
  virtual void RunHandler(const std::function<void()>& handler) = 0;
  // Whether a snapshot may be installed now: no run, and not a figure.
  virtual bool CanContinue() const = 0;
  // Installs snapshot `index` as the current state and drops the later ones.
  virtual void ContinueFromSnapshot(std::size_t index) = 0;
  // The snapshot as the host would draw it now: its view, colours and
  // numbers, at the size of its picture.
  virtual QImage DrawSnapshot(const Snapshot& snap) const = 0;
  // The configuration the run came from (a path, or empty).
  virtual std::string ConfigurationName() const = 0;

 protected:
  ~HistoryHost() = default;
};

}  // namespace qd
