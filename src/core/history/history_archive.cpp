#include "core/history/history_archive.h"

#include <algorithm>

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

std::vector<std::size_t> EvenPicks(std::size_t count, std::size_t room) {
  std::vector<std::size_t> picks;
  if (count <= room) {
    for (std::size_t i = 0; i < count; ++i) picks.push_back(i);
    return picks;
  }
  room = std::max<std::size_t>(room, 2);
  // Strictly increasing, as count - 1 > room - 1; the product stays far
  // below 2^64 for any archive a disk holds.
  for (std::size_t k = 0; k < room; ++k) picks.push_back(k * (count - 1) / (room - 1));
  return picks;
}

LoadedArchive LoadHistoryArchive(const archive::Reader& r, const std::string& path, RunHistory& h,
                                 const PotentialFn& potential) {
  if (r.Count() == 0) throw FileError("the archive holds no whole snapshot");
  LoadedArchive loaded;
  loaded.tornTail = r.TornTail();
  // Filled aside, so that a read that fails leaves `h` as it was; appending
  // all and letting the history thin itself would keep the last snapshots
  // dense and leave a gap after the first.
  RunHistory read(h.MemoryLimit());
  HistorySource source{path, EvenPicks(r.Count(), h.Capacity())};
  for (const std::size_t i : source.indices) {
    const archive::Entry e = r.At(i);
    read.Append(TakeSnapshot(e.state, e.options.force, potential));
    if (i + 1 == r.Count()) {
      loaded.options = e.options;
      loaded.fault = e.fault;
    }
  }
  read.SetSource(std::move(source));
  h.Adopt(std::move(read));
  return loaded;
}

}  // namespace qd
