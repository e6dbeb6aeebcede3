// Runs and steps from Python: without the interpreter lock, with Ctrl+C
// seen between steps, and faults raised as quindelle.FloatingPointFault.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "core/batch/run_outputs.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/persistence/file_io.h"
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
// note a signal, and only the main thread ever acts on it. While any run is
// in flight, SIGINT also passes through this handler, which counts it; every
// run looks at the count after every step. The main thread's run then takes
// the lock back to let Python act on the signal; a run in another thread
// raises KeyboardInterrupt itself, so that Ctrl+C ends a whole sweep of
// threads, as it ends the main thread's run.
std::atomic<unsigned> g_interrupts{0};
std::mutex g_watchLock;
int g_watching = 0;        // runs in flight, under g_watchLock
bool g_installed = false;  // our handler is in place, under g_watchLock
struct sigaction g_chained {};

extern "C" void OnInterrupt(int sig, siginfo_t* info, void* context) {
  g_interrupts.fetch_add(1, std::memory_order_relaxed);
  if ((g_chained.sa_flags & SA_SIGINFO) != 0) {
    if (g_chained.sa_sigaction != nullptr) g_chained.sa_sigaction(sig, info, context);
  } else if (g_chained.sa_handler != SIG_DFL && g_chained.sa_handler != SIG_IGN) {
    g_chained.sa_handler(sig);
  }
}

bool IsOurs(const struct sigaction& a) {
  return (a.sa_flags & SA_SIGINFO) != 0 && a.sa_sigaction == &OnInterrupt;
}

// Watches for signals during one run: SIGINT after every step, and on the
// main thread any other signal Python handles, a few times a second.
class SignalWatch {
 public:
  SignalWatch() {
    py::module_ threading = py::module_::import("threading");
    const py::object mainIdent = threading.attr("main_thread")().attr("ident");
    main_ = mainIdent.equal(threading.attr("get_ident")());
    // Another thread's run stops only where Ctrl+C means KeyboardInterrupt:
    // a handler of the user's own decides for itself (and may call stop()).
    py::module_ signal = py::module_::import("signal");
    plainInterrupt_ = signal.attr("getsignal")(signal.attr("SIGINT")).is(signal.attr("default_int_handler"));
    std::lock_guard<std::mutex> lock(g_watchLock);
    if (g_watching++ == 0) Install();
    seen_ = g_interrupts.load();
  }
  ~SignalWatch() {
    std::lock_guard<std::mutex> lock(g_watchLock);
    if (--g_watching > 0 || !g_installed) return;
    g_installed = false;
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    // A handler Python installed meanwhile stays.
    if (IsOurs(now)) sigaction(SIGINT, &g_chained, nullptr);
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // Between two steps, without the interpreter lock: true when the run is
  // to stop with the exception that now waits in the thread's error
  // indicator (KeyboardInterrupt, or what Python's handler of a signal raised).
  bool Stop() {
    const unsigned count = g_interrupts.load(std::memory_order_relaxed);
    const bool interrupted = count != seen_;
    seen_ = count;
    if (!main_) {
      if (!interrupted || !plainInterrupt_) return false;
      py::gil_scoped_acquire gil;
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!interrupted && now < nextLook_) return false;
    nextLook_ = now + std::chrono::milliseconds(100);
    py::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
  }

 private:
  bool main_ = false;
  bool plainInterrupt_ = false;
  unsigned seen_ = 0;
  std::chrono::steady_clock::time_point nextLook_ = std::chrono::steady_clock::now();

  // Under g_watchLock, by the first run in flight.
  static void Install() {
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    // A default or ignored SIGINT (signal.SIG_DFL, SIG_IGN) is left as the
    // user chose it.
    const bool plain =
        (now.sa_flags & SA_SIGINFO) == 0 && (now.sa_handler == SIG_DFL || now.sa_handler == SIG_IGN);
    if (plain || IsOurs(now)) return;
    g_chained = now;
    struct sigaction ours {};
    ours.sa_sigaction = &OnInterrupt;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    g_installed = sigaction(SIGINT, &ours, nullptr) == 0;
  }
};

}  // namespace

namespace {

// A tqdm bar over a run's steps, redrawn at most ten times a second.
class ProgressBar {
 public:
  ProgressBar(bool on, long long total) : total_(total) {
    if (!on) return;
    py::module_ tqdm;
    try {
      tqdm = py::module_::import("tqdm");
    } catch (const py::error_already_set&) {
      throw py::import_error("progress=True needs tqdm (Debian package python3-tqdm)");
    }
    bar_ = tqdm.attr("tqdm")(py::arg("total") = total, py::arg("unit") = "step");
  }
  ~ProgressBar() {
    if (!bar_) return;
    try {
      bar_.attr("close")();
    } catch (const py::error_already_set&) {  // a broken stream costs no run
    }
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Without the interpreter lock.
  void Update(long long done) {
    if (!bar_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_ && done != total_) return;
    next_ = now + std::chrono::milliseconds(100);
    py::gil_scoped_acquire gil;
    bar_.attr("update")(done - shown_);
    shown_ = done;
  }

 private:
  py::object bar_;
  long long total_;
  long long shown_ = 0;
  std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now();
};

[[noreturn]] void RaiseOSError(const std::string& message) {
  PyErr_SetString(PyExc_OSError, message.c_str());
  throw py::error_already_set();
}

// The options quindelle-run would be given for the same files.
batch::Options FileOptions(const Simulation& sim, long long steps, long long every, const RunFiles& files) {
  constexpr long long kMost = std::numeric_limits<std::int32_t>::max();
  if (files.resume && files.archive.empty()) throw BadValue("resume=True needs the archive to go on with");
  if (files.archiveEvery != 0 && files.archive.empty())
    throw BadValue("archive_every only goes with archive");
  if (files.archiveEvery < 0 || files.archiveEvery > kMost)
    throw BadValue("archive_every needs a number of steps from 1 to " + std::to_string(kMost));
  if (steps > kMost || every > kMost)
    throw BadValue("a run that writes files takes at most " + std::to_string(kMost) + " steps");
  batch::Options o;
  // Another file holds the simulation's start: no output may replace it,
  // but a resumed archive is its own start.
  const batch::StartPointer source = batch::SplitStartPointer(sim.Source());
  o.in = source.xyz ? source.path : sim.Source();
  if (files.resume && !o.in.empty() && SameFile(o.in, files.archive)) o.in.clear();
  o.steps = static_cast<std::int32_t>(steps);
  o.every = static_cast<std::int32_t>(every);
  o.csv = files.csv;
  o.xyz = files.xyz;
  o.archive = files.archive;
  o.archiveEvery = static_cast<std::int32_t>(files.archiveEvery);
  o.resume = files.resume;
  o.step.threads = sim.GetRun().Options().threads;
  std::string clash = batch::DistinctFiles(o);
  if (!clash.empty()) {
    // In Python's words: the keywords, not the options.
    const std::size_t words = clash.find(" are the same file");
    for (std::size_t at = clash.find("--"); at < words; at = clash.find("--", at)) clash.erase(at, 2);
    throw BadValue(clash);
  }
  return o;
}

// Where the run's step numbers start, and for resume the archive's locked
// writer, once the simulation is found where the archive's run ended.
void StartFiles(const Simulation& sim, const batch::Options& o, batch::Start& start) {
  start.options = sim.GetRun().Options();
  start.step = sim.State().StepCount;
  if (!o.resume) return;
  SimState archived;
  archived.TaonCount = kSlotCount;
  if (auto problem = batch::StartFromArchive(o, o.archive, archived, start)) {
    if (problem->status == batch::kFileFault) RaiseOSError(problem->message);
    throw BadValue(problem->message);
  }
  const std::int64_t last = start.step;
  if (!SameRun(archived, start.options, sim.State(), sim.GetRun().Options()))
    throw BadValue(o.archive + ": the simulation is not where the archive's run ended (step " +
                   std::to_string(last) + "); quindelle.load('" + o.archive +
                   "') gives the simulation that goes on from there");
  start.options = sim.GetRun().Options();
}

// Adds to the exception now raised what became of the files.
[[noreturn]] void RaiseWithNote(const std::string& note) {
  py::error_already_set e;
  if (!note.empty() && py::hasattr(e.value(), "add_note")) e.value().attr("add_note")(note);
  throw e;
}

}  // namespace

void Run(PySimulation& self, long long steps, long long every, const py::object& callback,
         const py::object& self_object, const RunFiles& files, bool progress) {
  if (steps < 0) throw BadValue("run needs a number of steps of at least 0, not " + std::to_string(steps));
  Simulation& sim = self.Change();
  qd::Run& run = sim.GetRun();
  const bool writes = files.Any();
  batch::Options o;
  batch::Start start;
  if (writes) {
    o = FileOptions(sim, steps, every, files);
    StartFiles(sim, o, start);
  } else if (files.archiveEvery != 0 || files.resume) {
    FileOptions(sim, steps, every, files);  // says what is missing
  }
  PySimulation::Live& live = *self.live;
  live.stop.store(false);
  live.step.store(run.State().StepCount);
  ProgressBar bar(progress, steps);
  SignalWatch watch;
  bool interrupted = false;
  std::exception_ptr failed;
  auto between = [&](std::int64_t done) {
    live.step.store(run.State().StepCount, std::memory_order_relaxed);
    if (live.stop.load(std::memory_order_relaxed)) return false;
    interrupted = watch.Stop();
    if (interrupted) return false;
    try {
      bar.Update(done);
    } catch (...) {
      failed = std::current_exception();
      return false;
    }
    if (callback.is_none() || done % every != 0) return true;
    py::gil_scoped_acquire gil;
    self.inCallback = true;
    self.potential.reset();
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
  };
  qd::RunOutcome outcome;
  batch::Outcome written;
  {
    Busy busy(self);
    py::gil_scoped_release release;
    if (writes) {
      batch::Hooks hooks;
      hooks.between = between;
      // An exception to raise stops the run as a signal stops quindelle-run:
      // the archive keeps the steps, nothing else is written.
      hooks.stopSignal = [&] { return interrupted || failed ? SIGINT : 0; };
      written = batch::RunOn(o, run, start, hooks);
      outcome.steps = written.steps;
      if (!written.fault.empty())
        outcome.fault = Fault{static_cast<std::int32_t>(written.faultStep), written.fault};
    } else {
      outcome = run.Go(steps, between);
    }
    // However the run ended, its last step is in the history.
    run.History().RunEnded(run.State(), run.Options().force);
  }
  const std::string note = written.status > 128 ? written.message : std::string();
  if (failed) {
    try {
      std::rethrow_exception(failed);
    } catch (py::error_already_set& e) {
      if (!note.empty() && py::hasattr(e.value(), "add_note")) e.value().attr("add_note")(note);
      throw;
    }
  }
  if (interrupted) RaiseWithNote(note);
  if (outcome.fault) RaiseFault(*outcome.fault);
  if (written.status == batch::kUsage) throw BadValue(written.message);
  if (written.status == batch::kFileFault) RaiseOSError(written.message);
  // A torn tail cut off a resumed archive, say.
  if (!written.message.empty() && PyErr_WarnEx(PyExc_UserWarning, written.message.c_str(), 1) != 0)
    throw py::error_already_set();
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

Extended Potential(PySimulation& self) {
  qd::Run& run = self.Use().GetRun();
  if (self.potential) return *self.potential;
  try {
    self.potential = run.Potential();
  } catch (const qd::FpFault& e) {
    RaiseFault(qd::Fault{run.State().StepCount, e.what()});
  }
  return *self.potential;
}

}  // namespace qd::python
