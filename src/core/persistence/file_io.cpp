#include "core/persistence/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "core/common/errors.h"

namespace qd {
namespace {

// Closes the descriptor on every path out; Close() reports the result when the
// caller needs it.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Takes another descriptor; errno is left as the call that made it left it.
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // 0, or the errno of a failed close.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// A name the system cannot take at all: empty, or with a NUL inside.
bool ValidName(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

std::string DirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links in the last component, so that the file behind a
// link is replaced and the link itself stays. 0 or an errno.
int ResolveLinks(const std::string& path, std::string& target) {
  std::string cur = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat ls;
    if (::lstat(cur.c_str(), &ls) != 0) {
      if (errno == ENOENT) {
        target = cur;  // a new file (or a missing folder, reported later)
        return 0;
      }
      return errno;
    }
    if (!S_ISLNK(ls.st_mode)) {
      target = cur;
      return 0;
    }
    std::string link(static_cast<std::size_t>(ls.st_size > 0 ? ls.st_size : 0) + 256, '\0');
    const ssize_t n = ::readlink(cur.c_str(), link.data(), link.size());
    if (n < 0) return errno;
    link.resize(static_cast<std::size_t>(n));
    cur = (!link.empty() && link[0] == '/') ? link : DirName(cur) + "/" + link;
  }
  return ELOOP;
}

// Writes all bytes: 0 or an errno. A write that stores nothing and a file
// size limit both mean the medium is full.
int WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    // EINTR is passed on: a signal that cuts the wait for a FIFO's reader
    // is its sender's wish to stop (a regular file never waits like this).
    if (n < 0) return errno == EFBIG ? ENOSPC : errno;
    if (n == 0) return ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::optional<WriteFailure> Fail(WriteFailure::Stage stage, int err) { return WriteFailure{stage, err}; }

// The old way: truncate and write. Used only where no temporary file can take
// the data's place.
std::optional<WriteFailure> WriteInPlace(const std::string& target, const void* data, std::size_t size,
                                         bool regular) {
  Fd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.ok()) return Fail(WriteFailure::Stage::Open, errno);
  if (const int e = WriteAll(fd.get(), data, size)) return Fail(WriteFailure::Stage::Write, e);
  if (regular && ::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
    return Fail(WriteFailure::Stage::Write, errno);
  if (const int e = fd.Close()) return Fail(WriteFailure::Stage::Close, e);
  return std::nullopt;
}

// Creates a new, empty file beside the target. -1 with errno on failure.
int CreateTemporary(const std::string& target, mode_t mode, std::string& tempPath) {
  const std::string dir = DirName(target);
  // Keep the temporary name within the length a folder entry may have.
  const std::string stem = dir + "/." + BaseName(target).substr(0, 100) + ".";
  static unsigned counter = 0;
  const auto seed =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, "%ld-%llx-%u.tmp", static_cast<long>(::getpid()),
                  (seed >> 4) & 0xFFFFFFull, counter++);
    tempPath = stem + suffix;
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);  // best effort: the data themselves are already on disk
  ::close(fd);
}

}  // namespace

std::string FileErrorText(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kFileNotFound;
    case ENAMETOOLONG:
    case EINVAL:
      return kInvalidFilename;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kFileAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return kDiskFull;
    default:
      return "I/O error " + std::to_string(err);
  }
}

void ThrowFileError(int err) { throw FileError(FileErrorText(err)); }

namespace {

// Opens for reading without ever waiting, so that a pipe with no writer or a
// device that blocks cannot stall the caller. A folder is refused (EISDIR);
// `st` says what was opened. -1 with errno on failure.
int OpenNoWait(const std::string& path, struct stat& st) {
  if (!ValidName(path)) {
    errno = EINVAL;
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  int err = 0;
  if (::fstat(fd, &st) != 0)
    err = errno;
  else if (S_ISDIR(st.st_mode))
    err = EISDIR;
  if (err != 0) {
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// Opens a file that must be a regular one (or a link to one), for blocking
// reads once open: -1 with errno otherwise.
int OpenRegularFile(const std::string& path) {
  struct stat st;
  const int fd = OpenNoWait(path, st);
  if (fd < 0) return -1;
  int err = 0;
  if (!S_ISREG(st.st_mode))
    err = EACCES;
  else if (const int flags = ::fcntl(fd, F_GETFL);
           flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    err = errno;
  if (err != 0) {
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace

int RegularFileAccessError(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

std::vector<std::uint8_t> ReadFilePrefix(const std::string& path, std::size_t size) {
  Fd fd(OpenRegularFile(path));
  if (!fd.ok()) ThrowFileError(errno);
  std::vector<std::uint8_t> data(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd.get(), data.data() + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno);
    }
    if (n == 0) throw FileError(kReadBeyondEnd);
    done += static_cast<std::size_t>(n);
  }
  if (const int e = fd.Close()) ThrowFileError(e);
  return data;
}

int TryReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data) {
  data.clear();
  // A pipe in a text file's place gives what is there, never a wait.
  struct stat st;
  Fd fd(OpenNoWait(path, st));
  if (!fd.ok()) return errno;
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      return errno;
    }
    if (n == 0) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  return fd.Close();
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<std::uint8_t> data;
  if (const int e = TryReadWholeFile(path, data)) ThrowFileError(e);
  return data;
}

std::optional<WriteFailure> TryWriteFileSafely(const std::string& path, const void* data, std::size_t size) {
  using Stage = WriteFailure::Stage;
  if (!ValidName(path)) return Fail(Stage::Open, EINVAL);
  std::string target;
  if (const int e = ResolveLinks(path, target)) return Fail(Stage::Open, e);

  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Fail(Stage::Open, errno);
  // Devices, pipes and folders cannot be replaced: write (or fail) in place.
  if (exists && !S_ISREG(st.st_mode)) return WriteInPlace(target, data, size, false);
  if (exists) {
    // A file the user may not write stays refused, whatever its folder allows.
    Fd probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (!probe.ok()) return Fail(Stage::Open, errno);
  }

  std::string temp;
  Fd fd(CreateTemporary(target, exists ? 0600 : 0666, temp));
  if (!fd.ok()) {
    const int e = errno;
    // A writable file in a folder that takes no new file.
    if (exists && (e == EACCES || e == EPERM || e == EROFS)) return WriteInPlace(target, data, size, true);
    return Fail(Stage::Open, e);
  }
  auto discard = [&](Stage stage, int err) {
    fd.Close();
    ::unlink(temp.c_str());
    return Fail(stage, err);
  };
  if (const int e = WriteAll(fd.get(), data, size)) return discard(Stage::Write, e);
  if (::fsync(fd.get()) != 0) return discard(Stage::Write, errno);
  if (exists) {
    // Only possible for the owner's own group or for root; otherwise the
    // new file is the writer's, as any newly saved file would be. A change
    // of owner clears the set-id bits, so the mode comes after it.
    [[maybe_unused]] const int owned = ::fchown(fd.get(), st.st_uid, st.st_gid);
    if (::fchmod(fd.get(), st.st_mode & 07777) != 0) return discard(Stage::Close, errno);
  }
  if (const int e = fd.Close()) {
    ::unlink(temp.c_str());
    return Fail(Stage::Close, e);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    return Fail(Stage::Close, e);
  }
  SyncFolder(DirName(target));
  return std::nullopt;
}

void WriteFileSafely(const std::string& path, const void* data, std::size_t size) {
  if (const auto failure = TryWriteFileSafely(path, data, size)) ThrowFileError(failure->err);
}

ReplacingFile::ReplacingFile(const std::string& path) {
  if (!ValidName(path)) ThrowFileError(EINVAL);
  if (const int e = ResolveLinks(path, target_)) ThrowFileError(e);
  struct stat st;
  hadOld_ = ::stat(target_.c_str(), &st) == 0;
  if (!hadOld_ && errno != ENOENT) ThrowFileError(errno);
  if (hadOld_ && !S_ISREG(st.st_mode)) {
    fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) ThrowFileError(errno);
    return;
  }
  if (hadOld_) {
    // A file the user may not write stays refused, whatever its folder allows.
    Fd probe(::open(target_.c_str(), O_WRONLY | O_CLOEXEC));
    if (!probe.ok()) ThrowFileError(errno);
    mode_ = st.st_mode & 07777;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
  }
  fd_ = CreateTemporary(target_, hadOld_ ? 0600 : 0666, temp_);
  if (fd_ < 0) {
    const int e = errno;
    temp_.clear();
    if (!hadOld_ || (e != EACCES && e != EPERM && e != EROFS)) ThrowFileError(e);
    inPlaceAtCommit_ = true;
  }
}

ReplacingFile::~ReplacingFile() { Discard(); }

void ReplacingFile::Write(const void* data, std::size_t size) {
  if (inPlaceAtCommit_) {
    held_.append(static_cast<const char*>(data), size);
    return;
  }
  if (fd_ < 0) ThrowFileError(EBADF);
  if (const int e = WriteAll(fd_, data, size)) ThrowFileError(e);
  // A long output (a trajectory) goes to the disk while the run goes on,
  // rather than all at once in the fsync before the rename. Best effort:
  // the fsync still says whether it got there.
  constexpr std::size_t kEarlyWriteback = 256 * 1024;
  if (!temp_.empty() && size >= kEarlyWriteback)
    (void)::sync_file_range(fd_, static_cast<off_t>(written_), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
  written_ += size;
}

void ReplacingFile::Finish() {
  if (fd_ < 0) return;
  if (!temp_.empty()) {
    if (::fsync(fd_) != 0) ThrowFileError(errno);
    if (hadOld_) {
      // Owner first: a change of owner clears the set-id bits.
      [[maybe_unused]] const int owned = ::fchown(fd_, static_cast<uid_t>(uid_), static_cast<gid_t>(gid_));
      if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) ThrowFileError(errno);
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ThrowFileError(errno);
}

void ReplacingFile::Commit() {
  if (inPlaceAtCommit_) {
    inPlaceAtCommit_ = false;
    if (const auto failure = TryWriteFileSafely(target_, held_.data(), held_.size()))
      ThrowFileError(failure->err);
    return;
  }
  Finish();
  if (temp_.empty()) return;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) ThrowFileError(errno);
  temp_.clear();
  SyncFolder(DirName(target_));
}

void ReplacingFile::Discard() noexcept {
  inPlaceAtCommit_ = false;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void CheckAppendable(const std::string& path) {
  if (!ValidName(path)) ThrowFileError(EINVAL);
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) ThrowFileError(EISDIR);
    if (::access(path.c_str(), W_OK) != 0) ThrowFileError(errno);
    return;
  }
  if (errno != ENOENT) ThrowFileError(errno);
  // A new file: its folder must take one (ENOENT above means that every
  // folder on the way exists and is one).
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  if (::access(folder.c_str(), W_OK | X_OK) != 0) ThrowFileError(errno);
}

void AppendLine(const std::string& path, const std::string& header, const std::string& line) {
  if (!ValidName(path)) ThrowFileError(EINVAL);
  // A file made here and never written is removed again, so that a failed
  // first row leaves no empty table behind.
  bool created = false;
  Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  if (!fd.ok() && errno == ENOENT) {
    fd.Reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    created = fd.ok();
    // Another writer made it in between: append to theirs.
    if (!fd.ok() && errno == EEXIST) fd.Reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  }
  if (!fd.ok()) ThrowFileError(errno);
  // The lock covers the look at the size, so only one writer adds the header;
  // the single write keeps rows whole even where locks are not shared.
  while (::flock(fd.get(), LOCK_EX) != 0)
    if (errno != EINTR) break;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) ThrowFileError(errno);
  const bool regular = S_ISREG(st.st_mode);
  const std::string text = (regular && st.st_size == 0 ? header : std::string()) + line;
  const ssize_t n = ::write(fd.get(), text.data(), text.size());
  if (n < 0 || static_cast<std::size_t>(n) != text.size()) {
    const int err = n < 0 ? (errno == EFBIG ? ENOSPC : errno) : ENOSPC;
    // Half a row would glue the next run's row onto it: cut the file back
    // to what it was, still under the lock.
    if (regular) {
      if (created && st.st_size == 0)
        ::unlink(path.c_str());
      else if (n > 0)
        (void)!::ftruncate(fd.get(), st.st_size);
    }
    ThrowFileError(err);
  }
  if (const int e = fd.Close()) ThrowFileError(e);
}

namespace {

// The name a path stands for once every symbolic link in it, the last one
// included, has been followed, also where the file (or a link's target)
// does not exist yet.
std::filesystem::path FinalName(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return fs::path(path);
  for (int hops = 0; hops < 40; ++hops) {
    const fs::path folder = fs::weakly_canonical(p.parent_path(), ec);
    if (ec) return p.lexically_normal();
    const fs::path name = folder / p.filename();
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name.lexically_normal();
    const fs::path target = fs::read_symlink(name, ec);
    if (ec) return name.lexically_normal();
    p = target.is_absolute() ? target : folder / target;
  }
  return p.lexically_normal();
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return FinalName(a) == FinalName(b);
}

bool CanOpenForReading(const std::string& path) {
  struct stat st;
  return Fd(OpenNoWait(path, st)).ok();
}

}  // namespace qd
