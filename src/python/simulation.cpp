#include "python/simulation.h"

#include <cerrno>
#include <cstring>

#include "core/batch/batch_run.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/xyz.h"
#include "python/values.h"

namespace qd::python {

using batch::Lookup;
using batch::NameOf;

Simulation::Simulation() : run_(std::make_unique<Run>()) {}

std::unique_ptr<Simulation> Simulation::Load(const std::string& path) {
  const batch::StartPointer frame = batch::SplitStartPointer(path);
  const bool xyz = frame.xyz;
  const std::string& file = xyz ? frame.path : path;
  // "F.xyz@abc" is a wrong frame number before it is a missing file.
  if (!frame.problem.empty()) throw BadValue(path + ": " + frame.problem);
  // The access check first, so that a missing file or a folder is told by
  // its errno rather than by the text alone.
  if (const int err = RegularFileAccessError(file)) throw FileProblem(err, FileErrorText(err), file);
  if (xyz) {
    // Particles only: the parameters and choices stay those of a new
    // simulation.
    auto sim = std::make_unique<Simulation>();
    try {
      const int second = sim->GetRun().Options().force.secondKindCount;
      InstallXyzFrame(sim->State(), ReadXyzFrame(file, frame.index, second));
    } catch (const FileError& e) {
      throw FileProblem(0, e.what(), file);
    }
    sim->source_ = file;
    return sim;
  }
  auto s = std::make_unique<SimState>();
  s->TaonCount = kSlotCount;
  try {
    ReadConfigFile(*s, path);
  } catch (const FileError& e) {
    const bool tooShort = std::strcmp(e.what(), kReadBeyondEnd) == 0;
    throw FileProblem(tooShort ? 0 : EIO,
                      tooShort ? std::string(e.what()) + ": a configuration file holds " +
                                     std::to_string(kConfigRecordSize) + " bytes"
                               : std::string(e.what()),
                      path);
  }
  ApplyConfigRecord(*s);
  s->StepCount = 0;
  auto sim = std::make_unique<Simulation>();
  sim->State() = static_cast<const RunState&>(*s);
  sim->record_ = s->ConfigRecord;
  sim->source_ = path;
  return sim;
}

std::unique_ptr<Simulation> Simulation::FromSnapshot(const RunState& state, const StepOptions& options,
                                                     const std::string& source) {
  auto sim = std::make_unique<Simulation>();
  const int threads = sim->GetRun().Options().threads;
  sim->State() = state;
  sim->GetRun().Options() = options;
  // The thread count is this machine's business, not the archive's.
  sim->GetRun().Options().threads = threads;
  sim->GetRun().StateReplaced();
  sim->source_ = source;
  return sim;
}

std::unique_ptr<Simulation> Simulation::Copy() const {
  auto copy = std::make_unique<Simulation>();
  copy->run_ = run_->Clone();
  copy->record_ = record_;
  copy->source_ = source_;
  return copy;
}

void Simulation::Save(const std::string& path) {
  if (!source_.empty() && SameFile(path, source_))
    throw BadValue("'" + path + "' is the file this simulation was loaded from; save to another file");
  auto s = std::make_unique<SimState>();
  static_cast<RunState&>(*s) = State();
  s->ConfigRecord = record_;
  FillConfigRecord(*s);
  if (const auto failure = TryWriteFileSafely(path, s->ConfigRecord.data(), s->ConfigRecord.size()))
    throw FileProblem(failure->err, FileErrorText(failure->err), path);
  record_ = s->ConfigRecord;
}

std::string Simulation::Formula() const {
  return NameOf(batch::kFormulaNames, run_->Options().force.formula);
}

void Simulation::SetFormula(const std::string& name) {
  if (!Lookup(batch::kFormulaNames, name, run_->Options().force.formula))
    throw BadValue("unknown formula '" + name + "' (E, PE, PES, DUDI or EPESminus)");
}

std::string Simulation::Sign() const { return NameOf(batch::kSignNames, run_->Options().force.sign); }

void Simulation::SetSign(const std::string& name) {
  if (!Lookup(batch::kSignNames, name, run_->Options().force.sign))
    throw BadValue("unknown sign mode '" + name + "' (gravoscope or taoscope)");
}

std::string Simulation::Kinds() const {
  return NameOf(batch::kKindNames, run_->Options().force.secondKindCount);
}

void Simulation::SetKinds(const std::string& name) {
  if (!Lookup(batch::kKindNames, name, run_->Options().force.secondKindCount))
    throw BadValue("kinds takes 30, 15 or 10, not '" + name + "'");
}

std::string Simulation::Walls() const { return NameOf(batch::kWallNames, run_->Options().walls); }

void Simulation::SetWalls(const std::string& name) {
  if (!Lookup(batch::kWallNames, name, run_->Options().walls))
    throw BadValue("walls takes none, 1.5, 10 or 100, not '" + name + "'");
}

int Simulation::ParameterIndex(const std::string& name) {
  for (int i = 0; i < 11; ++i)
    if (name == batch::kParameterNames[i]) return i;
  return -1;
}

void Simulation::Installed() {
  InstallAll(State());
  run_->StateReplaced();
}

bool SameRun(const RunState& s, const StepOptions& o, const RunState& t, const StepOptions& p) {
  using Slots = SlotArray<Extended> RunState::*;
  static constexpr Slots kSlots[] = {&RunState::X,    &RunState::Y,     &RunState::Z,     &RunState::UX,
                                     &RunState::UY,   &RunState::UZ,    &RunState::XNew,  &RunState::YNew,
                                     &RunState::ZNew, &RunState::UXNew, &RunState::UYNew, &RunState::UZNew};
  for (const Slots slots : kSlots)
    for (int k = 0; k <= kSlotCount; ++k)
      if (!SameBits((s.*slots)[k], (t.*slots)[k])) return false;
  if (s.Present != t.Present || s.TaonCount != t.TaonCount || s.StepCount != t.StepCount) return false;
  for (const auto parameter : kParameterBlock)
    if (!SameBits(s.*parameter, t.*parameter)) return false;
  return o.cooler == p.cooler && o.heater == p.heater && o.blockade == p.blockade && o.walls == p.walls &&
         o.force.formula == p.force.formula && o.force.sign == p.force.sign &&
         o.force.secondKindCount == p.force.secondKindCount && o.force.dropB == p.force.dropB &&
         o.force.dropCDF == p.force.dropCDF;
}

}  // namespace qd::python
