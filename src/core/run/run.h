#pragma once
// One run of the simulation: the state it computes, the choices it steps
// with, the worker threads and the step they prepare ahead, and the history
// it records. The window, the batch runner and the Python module all drive
// a run through this object, so that a run is the same run, bit for bit,
// whichever of them drives it.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/dynamics/step.h"
#include "core/history/run_history.h"
#include "core/state/sim_state.h"

namespace qd {

// A floating-point fault that ended a step: the number the step would have
// had, and the program's message for it.
struct Fault {
  std::int32_t step = 0;
  std::string message;
};

// How a call of Run::Go ended.
struct RunOutcome {
  std::int64_t steps = 0;      // steps done
  std::optional<Fault> fault;  // the step that faulted, if one did
};

// Told what a run does, on the thread that drives it; a window turns these
// into its own notifications.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void RunStarted() {}
  // After every step, its snapshot (if one was due) included.
  virtual void StepDone() {}
  virtual void RunEnded(const RunOutcome&) {}
  // The history was cleared or cut back, or another state was installed.
  virtual void StateReplaced() {}
};

class Run {
 public:
  // A run with a state of its own: empty, with all 60 slots to loop over.
  Run();
  // A run of a state its owner keeps beside the view and the document (the
  // window's); `state` must outlive the run.
  explicit Run(RunState& state);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // An independent run with a copy of this one's state, choices and history.
  std::unique_ptr<Run> Clone() const;

  RunState& State() { return *state_; }
  const RunState& State() const { return *state_; }
  // The choices the next step uses; a change takes effect at that step.
  StepOptions& Options() { return options_; }
  const StepOptions& Options() const { return options_; }
  RunHistory& History() { return history_; }
  const RunHistory& History() const { return history_; }
  StepEngine& Engine() { return *engine_; }

  // While a run goes on, the workers start on the next step as soon as one
  // is done, so that they work while the driver does other things between
  // steps. For drivers that do something between steps (the window).
  void SetPrepareAhead(bool on) { prepareAhead_ = on; }

  void AddObserver(RunObserver* o);
  void RemoveObserver(RunObserver* o);

  // Called after each step with the steps done so far; false ends the run
  // after the step in hand.
  using Between = std::function<bool(std::int64_t done)>;

  // Runs up to maxSteps steps (negative: until `between` says stop),
  // numbered on from the state's step count at the start (a count that the
  // driver resets during the run is overwritten by the next step). A fault
  // ends the run; the state is then as the step left it (committed arrays
  // and step count at the previous step). The history records the start and
  // the steps.
  RunOutcome Go(std::int64_t maxSteps, const Between& between = {});

  // One step. Steps taken one by one make one run for the history, which
  // records its start when it is empty.
  std::optional<Fault> Step();

  // Another state was installed (a load, a structure, an edit): the next run
  // starts a new history.
  void StateReplaced();
  // Installs snapshot `index` of the history and drops the later ones.
  // False when there is no such snapshot.
  bool ContinueFrom(std::size_t index);

  Extended Kinetic() const;
  // The potential energy under the current choices, on the run's threads.
  Extended Potential();

 private:
  std::unique_ptr<RunState> owned_;
  RunState* state_;
  StepOptions options_;
  std::unique_ptr<StepEngine> engine_;
  RunHistory history_;
  bool prepareAhead_ = false;
  std::vector<RunObserver*> observers_;

  void BindHistory();

  template <class Call>
  void Notify(Call call) {
    // An observer may remove itself while being told.
    const std::vector<RunObserver*> now = observers_;
    for (RunObserver* o : now) call(*o);
  }
};

}  // namespace qd
