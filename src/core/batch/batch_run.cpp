#include "core/batch/batch_run.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "core/batch/batch_archive.h"
#include "core/batch/run_outputs.h"
#include "core/batch/start_from.h"
#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/editing/number_text.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/run_archive.h"
#include "core/persistence/xyz.h"
#include "core/run/run.h"
#include "core/state/sim_state.h"

namespace qd::batch {

const char* const kSummaryHeader =
    "input,output,formula,sign,kinds,walls,drop_b,drop_cdf,cooler,heater,blockade,"
    "Dt,A1,B1,C1,D1,F1,A2,B2,C2,D2,F2,steps,kinetic,potential,total,max_distance,fault,fault_step,host,"
    "version\n";

std::string LosslessText(Extended v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 21);
  return std::string(buf, r.ptr);
}

Extended LargestDistanceFromCentre(const RunState& s) {
  Extended cx = 0, cy = 0, cz = 0;
  int count = 0;
  for (int k = 1; k <= kSlotCount; ++k) {
    if (s.Present[k] == 0) continue;
    cx += s.X[k];
    cy += s.Y[k];
    cz += s.Z[k];
    ++count;
  }
  if (count == 0) return 0;
  cx /= count;
  cy /= count;
  cz /= count;
  Extended largest = 0;
  for (int k = 1; k <= kSlotCount; ++k) {
    if (s.Present[k] == 0) continue;
    const Extended dx = s.X[k] - cx, dy = s.Y[k] - cy, dz = s.Z[k] - cz;
    largest = std::max(largest, std::sqrt(dx * dx + dy * dy + dz * dz));
  }
  return largest;
}

void List(const SimState& s, ListKind kind, std::ostream& out) {
  for (int k = 1; k <= kSlotCount; ++k) {
    out << k;
    if (s.Present[k] == 0) {
      out << "\t\t\t\n";
      continue;
    }
    const bool pos = kind == ListKind::Positions;
    out << '\t' << FloatToText(pos ? s.X[k] : s.UX[k], '.') << '\t'
        << FloatToText(pos ? s.Y[k] : s.UY[k], '.') << '\t' << FloatToText(pos ? s.Z[k] : s.UZ[k], '.')
        << '\n';
  }
}

std::string ForceChoicesText(const ForceOptions& f) {
  std::string text = std::string("formula ") + NameOf(kFormulaNames, f.formula) + ", sign " +
                     NameOf(kSignNames, f.sign) + ", kinds " + std::to_string(f.secondKindCount);
  if (f.dropB) text += ", drop-b";
  if (f.dropCDF) text += ", drop-cdf";
  return text;
}

namespace {

std::optional<Outcome> LoadStart(const Options& o, SimState& s, Start& start) {
  start.options = o.step;
  if (o.resume) return StartFromArchive(o, o.archive, s, start);
  const bool frame = !o.from.empty() && SplitStartPointer(o.from).xyz;
  if (o.from.empty() || frame) {
    try {
      ReadConfigFile(s, o.in);
    } catch (const FileError& e) {
      return Outcome{kFileFault, o.in + ": " + e.what()};
    }
    ApplyConfigRecord(s);
    s.StepCount = 0;
    // A frame of an extended XYZ file brings particles only: they replace
    // IN's, whose parameters and choices stay.
    if (frame) {
      try {
        InstallStartFrom(s, o.from, start.options.force.secondKindCount);
      } catch (const FileError& e) {
        return Outcome{kFileFault, SplitStartPointer(o.from).path + ": " + e.what()};
      }
    }
    return std::nullopt;
  }
  // The kinds of file --from starts from are told apart here, a run archive
  // by its mark (archive::LooksLikeArchive). A file of no known kind is read
  // as an archive, so that the message says what is wrong with it.
  return StartFromArchive(o, o.from, s, start);
}

}  // namespace

Outcome Run(const Options& o, SimState& s, const Hooks& hooks) {
  s = SimState{};
  s.TaonCount = kSlotCount;
  Start start;
  if (auto problem = LoadStart(o, s, start)) return *problem;
  for (std::size_t i = 0; i < o.set.size(); ++i)
    if (o.set[i]) s.*kParameterBlock[i] = *o.set[i];
  qd::Run run(s);
  run.Options() = start.options;
  run.History().SetEnabled(false);
  return RunOn(o, run, start, hooks, &s);
}

}  // namespace qd::batch
