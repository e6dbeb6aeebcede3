// Runs and steps from Python: without the interpreter lock, with Ctrl+C
// seen between steps, and faults raised as quindelle.FloatingPointFault.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include "core/common/errors.h"
#include "python/bindings.h"

namespace qd::python {

PyObject* g_faultType = nullptr;

[[noreturn]] void RaiseFault(const Fault& f) {
  py::object exc =
      py::reinterpret_borrow<py::object>(g_faultType)("step " + std::to_string(f.step) + ": " + f.message);
  exc.attr("step") = f.step;
  exc.attr("message") = f.message;
  PyErr_SetObject(g_faultType, exc.ptr());
  throw py::error_already_set();
}

namespace {

// ---- Ctrl+C during a run ---------------------------------------------------

// A run lets go of the interpreter lock, so Python's own handler can only
// note a signal. During a run on the main thread, SIGINT also passes through
// this handler, which raises a flag the run looks at after every step; only
// then does the run take the lock back to let Python act on the signal.
std::atomic<bool> g_interrupted{false};
struct sigaction g_chained {};

extern "C" void OnInterrupt(int sig, siginfo_t* info, void* context) {
  g_interrupted.store(true, std::memory_order_relaxed);
  if ((g_chained.sa_flags & SA_SIGINFO) != 0) {
    if (g_chained.sa_sigaction != nullptr) g_chained.sa_sigaction(sig, info, context);
  } else if (g_chained.sa_handler != SIG_DFL && g_chained.sa_handler != SIG_IGN) {
    g_chained.sa_handler(sig);
  }
}

bool IsOurs(const struct sigaction& a) {
  return (a.sa_flags & SA_SIGINFO) != 0 && a.sa_sigaction == &OnInterrupt;
}

// Watches for signals during one run: SIGINT after every step, and any
// other signal Python handles a few times a second.
class SignalWatch {
 public:
  SignalWatch() {
    py::module_ threading = py::module_::import("threading");
    const py::object mainIdent = threading.attr("main_thread")().attr("ident");
    main_ = mainIdent.equal(threading.attr("get_ident")());
    if (!main_) return;
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    // A default or ignored SIGINT (signal.SIG_DFL, SIG_IGN) is left as the
    // user chose it; a nested run finds the handler already in place.
    const bool plain =
        (now.sa_flags & SA_SIGINFO) == 0 && (now.sa_handler == SIG_DFL || now.sa_handler == SIG_IGN);
    if (plain || IsOurs(now)) return;
    g_chained = now;
    g_interrupted.store(false);
    struct sigaction ours {};
    ours.sa_sigaction = &OnInterrupt;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    installed_ = sigaction(SIGINT, &ours, nullptr) == 0;
  }
  ~SignalWatch() {
    if (!installed_) return;
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    // A handler Python installed meanwhile stays.
    if (IsOurs(now)) sigaction(SIGINT, &g_chained, nullptr);
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // Between two steps, without the interpreter lock: true when Python's
  // handler of a signal raised an exception (KeyboardInterrupt), which then
  // waits in the thread's error indicator.
  bool Stop() {
    if (!main_) return false;
    const bool interrupted = g_interrupted.exchange(false, std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if (!interrupted && now < nextLook_) return false;
    nextLook_ = now + std::chrono::milliseconds(100);
    py::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
  }

 private:
  bool main_ = false;
  bool installed_ = false;
  std::chrono::steady_clock::time_point nextLook_ = std::chrono::steady_clock::now();
};

}  // namespace

void Run(PySimulation& self, long long steps, long long every, const py::object& callback,
         const py::object& self_object) {
  if (steps < 0) throw BadValue("run needs a number of steps of at least 0, not " + std::to_string(steps));
  qd::Run& run = self.Change().GetRun();
  PySimulation::Live& live = *self.live;
  live.stop.store(false);
  live.step.store(run.State().StepCount);
  SignalWatch watch;
  bool stopped = false;
  std::exception_ptr failed;
  qd::RunOutcome outcome;
  {
    Busy busy(self);
    py::gil_scoped_release release;
    outcome = run.Go(steps, [&](std::int64_t done) {
      live.step.store(run.State().StepCount, std::memory_order_relaxed);
      if (live.stop.load(std::memory_order_relaxed)) return false;
      stopped = watch.Stop();
      if (stopped) return false;
      if (callback.is_none() || done % every != 0) return true;
      py::gil_scoped_acquire gil;
      self.inCallback = true;
      try {
        const py::object answer = callback(self_object);
        self.inCallback = false;
        // Only False stops: a function that returns nothing lets the run go on.
        return !(py::isinstance<py::bool_>(answer) && !answer.cast<bool>());
      } catch (...) {
        self.inCallback = false;
        failed = std::current_exception();
        return false;
      }
    });
    // However the run ended, its last step is in the history.
    run.History().RunEnded(run.State(), run.Options().force);
  }
  if (failed) std::rethrow_exception(failed);
  if (stopped) throw py::error_already_set();
  if (outcome.fault) RaiseFault(*outcome.fault);
}

void Step(PySimulation& self) {
  qd::Run& run = self.Change().GetRun();
  std::optional<qd::Fault> fault;
  {
    Busy busy(self);
    py::gil_scoped_release release;
    fault = run.Step();
  }
  if (fault) RaiseFault(*fault);
}

Extended Potential(qd::Run& run) {
  try {
    return run.Potential();
  } catch (const qd::FpFault& e) {
    RaiseFault(qd::Fault{run.State().StepCount, e.what()});
  }
}

}  // namespace qd::python
