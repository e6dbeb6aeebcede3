#pragma once
// File operations with the user-facing error texts of the program.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qd {

inline constexpr const char* kFileNotFound = "File not found";
inline constexpr const char* kInvalidFilename = "Invalid filename";
inline constexpr const char* kTooManyOpenFiles = "Too many open files";
inline constexpr const char* kFileAccessDenied = "File access denied";
inline constexpr const char* kReadBeyondEnd = "Read beyond end of file";
inline constexpr const char* kDiskFull = "Disk full";

// The text for an errno value ("I/O error N" for the unlisted ones).
std::string FileErrorText(int err);
// Throws FileError with FileErrorText(err).
[[noreturn]] void ThrowFileError(int err);

// 0 when `path` opens as a regular file (or a symbolic link to one), else
// the errno of the failure; anything that is not a regular file (a folder, a
// pipe, a device, a socket) counts as one that cannot be opened (EISDIR or
// EACCES, both "File access denied"). Never waits, never throws.
int RegularFileAccessError(const std::string& path);

// Opens a file by the rule of RegularFileAccessError, for blocking reads:
// the descriptor, or -1 with errno.
int OpenRegularFileForReading(const std::string& path);

// Reads exactly `size` bytes from the start of a regular file, opened
// read-only by the rule of RegularFileAccessError. A shorter file fails with
// "Read beyond end of file".
std::vector<std::uint8_t> ReadFilePrefix(const std::string& path, std::size_t size);

// Reads the whole file, opened read-only. Throws FileError.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
// The same without the throw: 0, or the errno of the failure.
int TryReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data);

// Replaces the file's contents without ever losing the old ones: the data go
// to a temporary file in the same folder which is flushed and renamed over
// the target (behind a symbolic link; permission bits kept). Where that is
// impossible (not a regular file, or a folder that takes no new file while the
// file itself is writable) it writes in place. Throws FileError.
void WriteFileSafely(const std::string& path, const void* data, std::size_t size);

// What went wrong in a write, for callers that word the failure themselves.
struct WriteFailure {
  enum class Stage {
    Open,   // naming, creating or opening the file
    Write,  // storing the data (a short write reports ENOSPC)
    Close,  // closing or putting the new file in place
  };
  Stage stage;
  int err;  // errno
};

// WriteFileSafely without the throw: nothing on success.
std::optional<WriteFailure> TryWriteFileSafely(const std::string& path, const void* data, std::size_t size);

// A file replaced as a whole once its new contents are complete, for output
// that is written piece by piece or that must only appear together with other
// files. The constructor creates the new file beside the target (so an
// unwritable folder is found before any work is done): an unnamed one
// (O_TMPFILE) where the file system has them, so that a process killed at any
// moment leaves nothing, else a named temporary file (TemporaryName). Commit
// puts it in place; anything not committed is removed, the old file
// untouched. Targets that are no regular file (devices, FIFOs, the pipe
// behind /dev/stdout) are written directly; a writable file in a folder that
// takes no new file gets its new contents in place, at Commit. All members
// throw FileError.
class ReplacingFile {
 public:
  explicit ReplacingFile(const std::string& path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  void Write(const void* data, std::size_t size);
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  // Flushes the new file to the disk and closes it (an unnamed one stays
  // open until Commit names it); after it only Commit or Discard.
  void Finish();
  // Finish (when still open), then the rename that makes the new file visible.
  void Commit();
  // Removes the temporary file; harmless when there is none.
  void Discard() noexcept;

 private:
  std::string target_;
  std::string temp_;  // the named temporary file; empty for an unnamed one
  int fd_ = -1;
  bool replacing_ = false;  // a new file to put in the target's place
  bool finished_ = false;   // Finish done on a file that stays open
  bool hadOld_ = false;
  bool inPlaceAtCommit_ = false;
  std::string held_;  // the contents kept for inPlaceAtCommit_
  unsigned mode_ = 0;
  unsigned uid_ = 0, gid_ = 0;
  std::size_t written_ = 0;  // bytes written so far
};

// The name of a temporary file for `target` in its folder, made by the
// process `pid` on this machine: ".NAME.HOST.PID-XXXXXX-N.tmp".
std::string TemporaryName(const std::string& target, long pid);

// Removes from the folder the temporary files that processes of this
// machine which no longer live left behind (killed while writing); those of
// living processes and of other machines stay. Never throws.
void RemoveStaleTemporaries(const std::string& folder);

// One write() of the whole text at the end of the file (created when missing),
// under an exclusive lock, so that lines from concurrent writers never
// interleave; `header` goes first when the file is empty. Throws FileError.
void AppendLine(const std::string& path, const std::string& header, const std::string& line);

// Throws the FileError that appending to `path` would meet before anything
// is written: a folder, a file that is not writable, a new file in a folder
// that is missing or takes no file.
void CheckAppendable(const std::string& path);

// True when the two paths name the same file: same device and inode when both
// exist, otherwise the same absolute path once symbolic links are resolved.
bool SameFile(const std::string& a, const std::string& b);

// True when the file can be opened for reading; never throws. A folder is not
// a file and gives false.
bool CanOpenForReading(const std::string& path);

}  // namespace qd
