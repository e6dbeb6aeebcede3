#pragma once
// A run's notifications as Qt signals, for widgets that show a run.
#include <QObject>

#include "core/run/run.h"

namespace qd {

class RunSignals : public QObject, public RunObserver {
  Q_OBJECT
 public:
  // Observes `run` until destroyed; `run` must outlive it.
  explicit RunSignals(Run& run, QObject* parent = nullptr) : QObject(parent), run_(run) {
    run_.AddObserver(this);
  }
  ~RunSignals() override { run_.RemoveObserver(this); }

  void RunStarted() override { emit runStarted(); }
  void StepDone() override { emit stepDone(); }
  void RunEnded(const RunOutcome&) override { emit runEnded(); }
  void StateReplaced() override { emit stateReplaced(); }

 signals:
  void runStarted();
  void stepDone();
  void runEnded();
  void stateReplaced();

 private:
  Run& run_;
};

}  // namespace qd
