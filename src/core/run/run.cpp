#include "core/run/run.h"

#include <algorithm>

#include "core/common/errors.h"
#include "core/dynamics/energy.h"

namespace qd {

namespace {

RunState EmptyState() {
  RunState s;
  s.TaonCount = kSlotCount;
  return s;
}

}  // namespace

Run::Run() : owned_(std::make_unique<RunState>(EmptyState())), state_(owned_.get()) {
  engine_ = std::make_unique<StepEngine>();
  BindHistory();
}

void Run::BindHistory() {
  history_.SetPotential([this](const RunState& s, const ForceOptions& o) {
    // On the run's own threads: a run told to keep to one thread (one of a
    // sweep's processes, say) must not wake others, whose spinning after
    // each snapshot would cost more than the snapshot itself.
    return engine_->Potential(s, o, ResolveThreadCount(options_.threads));
  });
}

Run::Run(RunState& state) : Run() {
  owned_.reset();
  state_ = &state;
}

Run::~Run() = default;

std::unique_ptr<Run> Run::Clone() const {
  auto copy = std::make_unique<Run>();
  *copy->state_ = *state_;
  copy->options_ = options_;
  copy->history_ = history_;
  copy->BindHistory();
  copy->prepareAhead_ = prepareAhead_;
  return copy;
}

void Run::AddObserver(RunObserver* o) {
  if (std::find(observers_.begin(), observers_.end(), o) == observers_.end()) observers_.push_back(o);
}

void Run::RemoveObserver(RunObserver* o) { std::erase(observers_, o); }

RunOutcome Run::Go(std::int64_t maxSteps, const Between& between) {
  RunState& s = *state_;
  history_.RunStarted(s, options_.force);
  Notify([](RunObserver& o) { o.RunStarted(); });
  // A step prepared for a run that has ended is of no use.
  struct Discard {
    StepEngine& e;
    ~Discard() { e.Discard(); }
  } discard{*engine_};
  RunOutcome outcome;
  std::int32_t counter = s.StepCount;
  while (maxSteps < 0 || outcome.steps < maxSteps) {
    counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1u);
    try {
      engine_->Advance(s, options_, counter);
    } catch (const FpFault& e) {
      outcome.fault = Fault{counter, e.what()};
      break;
    }
    ++outcome.steps;
    history_.StepDone(s, options_.force);
    if (prepareAhead_) engine_->Prepare(s, options_);
    Notify([](RunObserver& o) { o.StepDone(); });
    if (between && !between(outcome.steps)) break;
  }
  Notify([&](RunObserver& o) { o.RunEnded(outcome); });
  return outcome;
}

std::optional<Fault> Run::Step() {
  RunState& s = *state_;
  // Steps taken one at a time make one run: its start is recorded once.
  if (history_.Empty()) history_.RunStarted(s, options_.force);
  const auto number = static_cast<std::int32_t>(static_cast<std::uint32_t>(s.StepCount) + 1u);
  try {
    engine_->Advance(s, options_, number);
  } catch (const FpFault& e) {
    return Fault{number, e.what()};
  }
  history_.StepDone(s, options_.force);
  Notify([](RunObserver& o) { o.StepDone(); });
  return std::nullopt;
}

void Run::StateReplaced() {
  history_.Clear();
  Notify([](RunObserver& o) { o.StateReplaced(); });
}

bool Run::ContinueFrom(std::size_t index) {
  if (index >= history_.Size()) return false;
  InstallSnapshot(history_.At(index), *state_);
  history_.TruncateAfter(index);
  Notify([](RunObserver& o) { o.StateReplaced(); });
  return true;
}

Extended Run::Kinetic() const { return KineticEnergy(*state_); }

Extended Run::Potential() {
  return engine_->Potential(*state_, options_.force, ResolveThreadCount(options_.threads));
}

}  // namespace qd
