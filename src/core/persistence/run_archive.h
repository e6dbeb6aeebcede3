#pragma once
// The run archive (.qra): a run's options and snapshots of its whole state,
// appended as the run goes, so that a run can be continued, bit for bit, from
// any snapshot, also after the process was killed or the disk filled up.
// The byte layout is in docs/run-archive.md.
//
// Every snapshot is framed with its length and a CRC-32. A reader takes every
// complete snapshot and reports a torn tail (a snapshot cut short by a kill
// or a full disk, or zeros a crash left) instead of failing; any other
// damage is an error, as the archive is then not what was written.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/persistence/archive_record.h"

namespace qd::archive {

// What a second writer of an archive is told.
inline constexpr const char* kBeingWritten = "the archive is being written by another run";

// True when the file starts with the archive's mark; never throws, never
// waits (a pipe or a device gives false).
bool LooksLikeArchive(const std::string& path);

// Creates a new archive and appends to it, or appends to an existing one.
// The archive is locked (an open file description lock, or flock where the
// system has none) for as long as the Writer lives: a second writer is
// refused with FileError kBeingWritten instead of cutting and appending
// beside the first. Every member throws FileError; after a failed append
// the archive is cut back to its last whole snapshot where the file system
// allows it.
class Writer {
 public:
  // A new archive at `path` whose first snapshot is `first`. The header and
  // the snapshot go to a temporary file that is then linked in under the
  // archive's name, so that the archive either does not exist or holds at
  // least one whole snapshot, and an existing file is never written over
  // (FileError "File exists").
  Writer(const std::string& path, const Entry& first);
  // An existing archive, opened and locked but not yet changed: read it with
  // Reader(path, *this), so that what is read is what no other run changes,
  // then call ContinueAfter.
  explicit Writer(const std::string& path);
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Cuts off whatever follows the whole snapshots `r` found (a torn tail);
  // appends go on after them.
  void ContinueAfter(std::uint64_t wholeSize);
  void Append(const Entry& e);
  // Flushes to the medium, closes and unlocks; the destructor does without
  // the flush.
  void Close();
  std::uint64_t Size() const { return size_; }
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// What follows an archive's last whole snapshot.
enum class Tail {
  None,
  Cut,    // fewer bytes than a snapshot: a run stopped while writing it
  Zeros,  // a snapshot's bytes, all zero or ending in zeros: a system that
          // stopped before the data reached the disk
};

// Reads the header and checks every snapshot: its frame (tag, length,
// checksum), every field for sense (archive_record.h), and that the steps
// increase. A fault snapshot of the step the snapshot before it was taken
// after (the run faulted at the next step) is the same state with the fault:
// the two are one snapshot, the fault marked on it. A torn tail (Tail) is
// left out and told; anything else that is wrong is damage, a FileError
// naming the snapshot ("snapshot 2 is damaged (...)"), even in the last
// snapshot, as a whole snapshot with a wrong checksum was changed after it
// was written.
class Reader {
 public:
  explicit Reader(const std::string& path);
  // The archive `w` has locked, read through its descriptor.
  Reader(const std::string& path, const Writer& w);
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
  // The step each snapshot was taken after, increasing.
  const std::vector<std::int64_t>& Steps() const { return steps_; }
  // What follows the last whole snapshot, its size, and the step its header
  // names when it has one that makes sense.
  bool TornTail() const { return tail_ != Tail::None; }
  Tail TailKind() const { return tail_; }
  std::uint64_t TornBytes() const { return tornBytes_; }
  std::optional<std::int64_t> TornStep() const { return tornStep_; }
  // Size of the header and the whole snapshots: where an append continues.
  std::uint64_t WholeSize() const { return wholeSize_; }

 private:
  void Scan();

  int fd_ = -1;
  std::string path_;
  StepOptions options_;
  std::vector<std::uint64_t> offsets_;
  std::vector<std::int64_t> steps_;
  Tail tail_ = Tail::None;
  std::uint64_t tornBytes_ = 0, wholeSize_ = 0;
  std::optional<std::int64_t> tornStep_;
};

}  // namespace qd::archive
