#include "core/persistence/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "core/common/errors.h"
#include "core/persistence/posix_file.h"

namespace qd {

using posix::Fd;
using posix::ValidName;

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

int OpenRegularFileForReading(const std::string& path) { return OpenRegularFile(path); }

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
