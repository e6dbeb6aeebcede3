#pragma once
// The run archive (.qra): a run's options and snapshots of its whole state,
// appended as the run goes, so that a run can be continued, bit for bit, from
// any snapshot, also after the process was killed or the disk filled up.
// The byte layout is in docs/run-archive.md.
//
// Every snapshot is framed with its length and a CRC-32. A reader takes every
// complete snapshot and reports a torn tail (a snapshot cut short by a kill
// or a full disk) instead of failing; a damaged snapshot followed by others
// is an error, as the archive is then not what was written.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd::archive {

inline constexpr std::uint32_t kFormatVersion = 1;
// What a run archive starts with: the program's mark, a line end that a text
// transfer would change, and an end-of-file mark that stops a text display.
inline constexpr std::uint8_t kMagic[8] = {'Q', 'D', 'R', 'A', '\r', '\n', 0x1A, '\n'};
// The longest fault text a snapshot keeps; a longer one is cut.
inline constexpr std::size_t kMaxFaultText = 127;

// One snapshot: the step it was taken after, the choices the run stepped
// with, the whole run state, and the fault that ended the run after it, if
// one did.
struct Entry {
  std::int64_t step = 0;
  StepOptions options;  // threads is not kept: it never changes a result
  RunState state;
  std::string fault;
};

// CRC-32 (the polynomial of zip and PNG), continued from `crc`.
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

// True when the file starts with the archive's mark; never throws, never
// waits (a pipe or a device gives false).
bool LooksLikeArchive(const std::string& path);

// Creates a new archive and appends to it. The header and the first snapshot
// go to a temporary file that is then linked in under the archive's name, so
// that the archive either does not exist or holds at least one whole
// snapshot, and an existing file is never written over. Every member throws
// FileError; after a failed append the archive is cut back to its last whole
// snapshot where the file system allows it.
class Writer {
 public:
  // A new archive at `path` whose first snapshot is `first`; FileError
  // "File exists" when there is a file of that name.
  Writer(const std::string& path, const Entry& first);
  // Appends to an existing archive, after cutting off a torn tail (the
  // caller has read it with Reader and checked it).
  Writer(const std::string& path, std::uint64_t wholeSize);
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Append(const Entry& e);
  // Flushes to the medium and closes; the destructor closes without.
  void Close();
  std::uint64_t Size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::vector<std::uint8_t> buffer_;
};

class Reader {
 public:
  // Reads the header and checks every snapshot's frame. Throws FileError
  // with the reason: not an archive, another format version, a damaged
  // header or snapshot, or the file's own error.
  explicit Reader(const std::string& path);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  std::uint32_t Version() const { return kFormatVersion; }
  // The options the run started with.
  const StepOptions& Options() const { return options_; }
  std::size_t Count() const { return offsets_.size(); }
  // Snapshot i (0 .. Count() - 1), read from the file; throws FileError
  // when the file changed since it was opened.
  Entry At(std::size_t i) const;
  // The step each snapshot was taken after, in file order.
  const std::vector<std::int64_t>& Steps() const { return steps_; }
  // Bytes after the last whole snapshot: a snapshot cut short.
  bool TornTail() const { return tornBytes_ > 0; }
  std::uint64_t TornBytes() const { return tornBytes_; }
  // Size of the header and the whole snapshots: where an append continues.
  std::uint64_t WholeSize() const { return wholeSize_; }

 private:
  int fd_ = -1;
  std::string path_;
  StepOptions options_;
  std::vector<std::uint64_t> offsets_;
  std::vector<std::int64_t> steps_;
  std::uint64_t tornBytes_ = 0, wholeSize_ = 0;
};

// Bytes of a snapshot's frame in format version 1 (tag, length, payload,
// CRC); every snapshot has this size.
std::size_t RecordSize();
std::size_t HeaderSize();

// The bytes of an archive's header and of one snapshot's frame: an archive is
// the header followed by frames. For writers of a whole archive at once.
std::vector<std::uint8_t> EncodeHeader(const StepOptions& options);
std::vector<std::uint8_t> EncodeRecord(const Entry& e);

}  // namespace qd::archive
