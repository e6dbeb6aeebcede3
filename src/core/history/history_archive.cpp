#include "core/history/history_archive.h"

#include "core/common/errors.h"
#include "core/persistence/file_io.h"

namespace qd {

void SaveHistoryArchive(const RunHistory& h, const StepOptions& options, const std::string& path) {
  if (h.Empty()) throw FileError("no snapshots to save");
  ReplacingFile file(path);
  StepOptions first = options;
  first.force = h.At(0).Force;
  const std::vector<std::uint8_t> header = archive::EncodeHeader(first);
  file.Write(header.data(), header.size());
  for (std::size_t i = 0; i < h.Size(); ++i) {
    const Snapshot& n = h.At(i);
    archive::Entry e{n.State.StepCount, options, n.State, {}};
    e.options.force = n.Force;
    const std::vector<std::uint8_t> record = archive::EncodeRecord(e);
    file.Write(record.data(), record.size());
  }
  file.Commit();
}

LoadedArchive LoadHistoryArchive(const archive::Reader& r, RunHistory& h, const PotentialFn& potential) {
  if (r.Count() == 0) throw FileError("the archive holds no whole snapshot");
  LoadedArchive loaded;
  loaded.tornTail = r.TornTail();
  h.Clear();
  for (std::size_t i = 0; i < r.Count(); ++i) {
    const archive::Entry e = r.At(i);
    h.Append(TakeSnapshot(e.state, e.options.force, potential));
    if (i + 1 == r.Count()) {
      loaded.options = e.options;
      loaded.fault = e.fault;
    }
  }
  return loaded;
}

}  // namespace qd
