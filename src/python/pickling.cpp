#include <cstring>
#include <string>
#include <vector>

#include "core/common/errors.h"
#include "core/persistence/archive_record.h"
#include "python/bindings.h"
#include "python/values.h"

namespace qd::python {

namespace {

// A pickle made by a later version of the module is refused rather than
// read wrongly.
constexpr int kPickleVersion = 1;

py::bytes Bytes(const std::vector<std::uint8_t>& v) {
  return py::bytes(reinterpret_cast<const char*>(v.data()), v.size());
}

py::bytes ExtendedBytes(const Extended& v) {
  return py::bytes(reinterpret_cast<const char*>(&v), kExtendedBytes);
}

Extended ExtendedFrom(const py::handle& b) {
  const std::string s = b.cast<std::string>();
  if (s.size() != kExtendedBytes)
    throw BadValue("not a pickled simulation: an energy of " + std::to_string(s.size()) + " bytes");
  Extended v = 0;
  std::memcpy(&v, s.data(), kExtendedBytes);
  return v;
}

// A snapshot's bytes as a run archive frames them: every field is checked
// when they are read back, as a file's would be.
py::bytes Frame(const RunState& state, const StepOptions& options) {
  archive::Entry e;
  e.step = state.StepCount;
  e.options = options;
  e.state = state;
  try {
    return Bytes(archive::EncodeRecord(e));
  } catch (const FileError& error) {
    throw BadValue(std::string("cannot pickle this simulation: ") + error.what());
  }
}

archive::Entry Unframe(const py::handle& b) {
  const std::string s = b.cast<std::string>();
  if (s.size() != archive::RecordSize())
    throw BadValue("not a pickled simulation: a snapshot of " + std::to_string(s.size()) + " bytes");
  const auto* frame = reinterpret_cast<const std::uint8_t*>(s.data());
  std::string wrong = archive::CheckFrame(frame);
  archive::Entry e;
  if (wrong.empty()) wrong = archive::DecodeRecord(frame, &e);
  if (!wrong.empty()) throw BadValue("not a pickled simulation: " + wrong);
  return e;
}

}  // namespace

py::tuple PickleSimulation(PySimulation& self) {
  const Simulation& sim = self.Use();
  const qd::Run& run = sim.GetRun();
  py::list history;
  for (std::size_t i = 0; i < run.History().Size(); ++i) {
    const Snapshot& snap = run.History().At(i);
    StepOptions options = run.Options();
    options.force = snap.Force;
    history.append(py::make_tuple(Frame(snap.State, options), ExtendedBytes(snap.Kinetic),
                                  ExtendedBytes(snap.Potential)));
  }
  const ConfigRecordBuffer& record = sim.Record();
  return py::make_tuple(kPickleVersion, Frame(sim.State(), run.Options()),
                        py::bytes(reinterpret_cast<const char*>(record.data()), record.size()), history,
                        run.Options().threads, run.History().Enabled(), run.History().FixedInterval(),
                        sim.Source(), run.History().EndsOffGrid());
}

PySimulation UnpickleSimulation(const py::tuple& t) {
  if (t.size() != 9 || !py::isinstance<py::int_>(t[0]) || t[0].cast<int>() != kPickleVersion)
    throw BadValue("not a pickled simulation of this version of quindelle");
  const archive::Entry now = Unframe(t[1]);
  PySimulation out;
  out.sim = Simulation::FromSnapshot(now.state, now.options, t[7].cast<std::string>());
  Simulation& sim = *out.sim;
  const std::string record = t[2].cast<std::string>();
  if (record.size() != kConfigRecordSize)
    throw BadValue("not a pickled simulation: a record of the wrong size");
  ConfigRecordBuffer buffer;
  std::memcpy(buffer.data(), record.data(), buffer.size());
  sim.SetRecord(buffer);
  RunHistory& history = sim.GetRun().History();
  for (const py::handle item : t[3].cast<py::list>()) {
    const py::tuple entry = item.cast<py::tuple>();
    if (entry.size() != 3) throw BadValue("not a pickled simulation: a snapshot of the wrong shape");
    const archive::Entry e = Unframe(entry[0]);
    Snapshot snap;
    snap.State = e.state;
    snap.Force = e.options.force;
    snap.Kinetic = ExtendedFrom(entry[1]);
    snap.Potential = ExtendedFrom(entry[2]);
    history.Append(snap);
  }
  sim.GetRun().Options().threads = t[4].cast<int>();
  history.SetEnabled(t[5].cast<bool>());
  history.SetFixedInterval(t[6].cast<std::int32_t>());
  history.SetEndsOffGrid(t[8].cast<std::size_t>());
  return out;
}

py::tuple PickleSnapshot(const PySnapshot& s) {
  StepOptions options;
  options.force = s.snap->Force;
  return py::make_tuple(kPickleVersion, Frame(s.snap->State, options), ExtendedBytes(s.snap->Kinetic),
                        ExtendedBytes(s.snap->Potential));
}

PySnapshot UnpickleSnapshot(const py::tuple& t) {
  if (t.size() != 4 || !py::isinstance<py::int_>(t[0]) || t[0].cast<int>() != kPickleVersion)
    throw BadValue("not a pickled snapshot of this version of quindelle");
  const archive::Entry e = Unframe(t[1]);
  auto snap = std::make_shared<Snapshot>();
  snap->State = e.state;
  snap->Force = e.options.force;
  snap->Kinetic = ExtendedFrom(t[2]);
  snap->Potential = ExtendedFrom(t[3]);
  return PySnapshot{std::move(snap)};
}

}  // namespace qd::python
