#pragma once
// What the Python module adds to the run object, without Python: loading
// and saving as quindelle-run does, and the run's choices and parameters by
// the names of its command line.
#include <memory>
#include <stdexcept>
#include <string>

#include "core/run/run.h"
#include "core/state/sim_state.h"

namespace qd::python {

// A value the user gave that cannot be taken (a ValueError in Python).
class BadValue : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A file that could not be read or written: the errno of the failure (0
// when the file is readable but no configuration), the program's text for
// it and the path as the user gave it.
class FileProblem : public std::runtime_error {
 public:
  FileProblem(int err, const std::string& text, std::string path)
      : std::runtime_error(text), err_(err), path_(std::move(path)) {}
  int Errno() const { return err_; }
  const std::string& Path() const { return path_; }

 private:
  int err_;
  std::string path_;
};

// Whether two states under their choices would go on alike: the committed
// and working state, presence, parameters and step count bit for bit, and
// every choice a step reads. Threads do not count.
bool SameRun(const RunState& s, const StepOptions& o, const RunState& t, const StepOptions& p);

class Simulation {
 public:
  // An empty configuration: no particle, every parameter 0.
  Simulation();

  // Reads a configuration as quindelle-run does: the file's first record,
  // installed with step count 0. An extended XYZ file (FILE.xyz or
  // FILE.xyz@N, N as --from takes it) gives its frame's particles to a new
  // simulation. Throws FileProblem.
  static std::unique_ptr<Simulation> Load(const std::string& path);

  // The simulation at one snapshot of a run archive: its state and the
  // choices the run was making then; `source` names the archive.
  static std::unique_ptr<Simulation> FromSnapshot(const RunState& state, const StepOptions& options,
                                                  const std::string& source);

  // An independent simulation with this one's state, choices and history.
  std::unique_ptr<Simulation> Copy() const;

  // Writes the configuration as quindelle-run writes its result, through a
  // temporary file and a rename. The file this simulation was loaded from is
  // refused (BadValue). Throws FileProblem.
  void Save(const std::string& path);

  // The configuration record as read, whose unused bytes a save keeps.
  const ConfigRecordBuffer& Record() const { return record_; }
  void SetRecord(const ConfigRecordBuffer& record) { record_ = record; }
  void SetSource(const std::string& source) { source_ = source; }

  Run& GetRun() { return *run_; }
  const Run& GetRun() const { return *run_; }
  RunState& State() { return run_->State(); }
  const RunState& State() const { return run_->State(); }
  const std::string& Source() const { return source_; }

  // The choices by quindelle-run's names; the setters throw BadValue with
  // the command line's wording.
  std::string Formula() const;
  void SetFormula(const std::string& name);
  std::string Sign() const;
  void SetSign(const std::string& name);
  std::string Kinds() const;
  void SetKinds(const std::string& name);
  std::string Walls() const;
  void SetWalls(const std::string& name);

  // The place of a parameter (Dt, A1 ... F2) in the parameter block, or -1.
  static int ParameterIndex(const std::string& name);
  Extended& Parameter(int index) { return State().*kParameterBlock[index]; }
  const Extended& Parameter(int index) const { return State().*kParameterBlock[index]; }

  // New positions, velocities or presence were put into the committed
  // arrays: installs them as a load would, and starts a new history.
  void Installed();

 private:
  std::unique_ptr<Run> run_;
  // The record as read: its padding bytes go back into every save, as
  // quindelle-run keeps them.
  ConfigRecordBuffer record_{};
  std::string source_;
};

}  // namespace qd::python
