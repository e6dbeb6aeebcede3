// Outputs that replace a file only once their new contents are complete.
// The new contents go to an unnamed file in the target's folder where the
// file system has them (O_TMPFILE), so that a process killed at any moment
// leaves nothing behind; it gets a name only when it is put in place. Where
// the file system has none, a named temporary file takes its place, and the
// temporaries that killed processes left are removed by the next writer.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>

#include "core/common/errors.h"
#include "core/persistence/file_io.h"
#include "core/persistence/posix_file.h"

namespace qd {

using posix::BaseName;
using posix::DirName;
using posix::Fd;
using posix::ValidName;

namespace {

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

// A target that is there but is no regular file: a device, a FIFO, or the
// pipe or terminal behind /dev/stdout. It is written as it is, by the name
// given: the link of a pipe names no file to follow.
bool ThereButNotRegular(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
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

// This machine's name as it goes into a temporary file's name: a folder may
// be shared with other machines, whose processes this one cannot see.
const std::string& HostTag() {
  static const std::string tag = [] {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::string("host");
    std::string t;
    for (const char* c = name; *c != '\0' && t.size() < 64; ++c)
      t += (std::isalnum(static_cast<unsigned char>(*c)) || *c == '-') ? *c : '_';
    return t;
  }();
  return tag;
}

// Whether linkat can give an unnamed file a name (through /proc).
bool CanNameUnnamedFiles() {
  static const bool yes = ::access("/proc/self/fd", X_OK) == 0;
  return yes;
}

// Removes the stale temporaries of the target's folder once per process and
// folder: enough, since a process leaves at most the few it was writing.
void RemoveStaleTemporariesOnce(const std::string& dir) {
  static std::mutex m;
  static std::set<std::string> done;
  {
    std::lock_guard<std::mutex> lock(m);
    if (!done.insert(dir).second) return;
  }
  RemoveStaleTemporaries(dir);
}

// A new, empty file beside the target: unnamed (`named` empty) where the file
// system has such files, else named. -1 with errno on failure.
int CreateTemporary(const std::string& target, mode_t mode, std::string& named) {
  const std::string dir = DirName(target);
  named.clear();
  if (CanNameUnnamedFiles()) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  }
  RemoveStaleTemporariesOnce(dir);
  for (int attempt = 0; attempt < 100; ++attempt) {
    named = TemporaryName(target, static_cast<long>(::getpid()));
    const int fd = ::open(named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  const int e = errno;
  named.clear();
  errno = e;
  return -1;
}

// Puts the new file in the target's place: 0 or an errno. An unnamed file
// gets a temporary name first, since link() never replaces a file and
// rename() does.
int PutInPlace(int fd, std::string& named, const std::string& target) {
  if (named.empty()) {
    const std::string from = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100 && named.empty(); ++attempt) {
      const std::string name = TemporaryName(target, static_cast<long>(::getpid()));
      if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        named = name;
      else if (errno != EEXIST)
        return errno;
    }
    if (named.empty()) return EEXIST;
  }
  if (::rename(named.c_str(), target.c_str()) != 0) {
    const int e = errno;
    ::unlink(named.c_str());
    named.clear();
    return e;
  }
  named.clear();
  return 0;
}

void SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);  // best effort: the data themselves are already on disk
  ::close(fd);
}

// The process number in a name TemporaryName made on this machine; 0 when
// the name is none of those.
long TemporaryPid(const std::string& name) {
  const std::string tail = "." + HostTag() + ".";
  const std::size_t host = name.rfind(tail);
  if (name.size() < 6 || name[0] != '.' || host == std::string::npos || host < 2) return 0;
  unsigned long long pid = 0, hex = 0, n = 0;
  int used = 0;
  const char* rest = name.c_str() + host + tail.size();
  if (std::sscanf(rest, "%llu-%llx-%llu.tmp%n", &pid, &hex, &n, &used) != 3 || rest[used] != '\0') return 0;
  if (!std::isdigit(static_cast<unsigned char>(rest[0])) || pid == 0 || pid > 0x7fffffffULL) return 0;
  return static_cast<long>(pid);
}

}  // namespace

std::string TemporaryName(const std::string& target, long pid) {
  static std::atomic<unsigned> counter{0};
  const auto seed =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%ld-%llx-%u.tmp", pid, (seed >> 4) & 0xFFFFFFull, counter++);
  // Within the length a folder entry may have.
  return DirName(target) + "/." + BaseName(target).substr(0, 100) + "." + HostTag() + suffix;
}

void RemoveStaleTemporaries(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return;
  while (const dirent* e = ::readdir(d)) {
    const long pid = TemporaryPid(e->d_name);
    // A process of that number that lives may be the writer, or one that
    // took its number: its file stays either way.
    if (pid == 0 || pid == static_cast<long>(::getpid()) || ::kill(static_cast<pid_t>(pid), 0) == 0 ||
        errno != ESRCH)
      continue;
    (void)::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

std::optional<WriteFailure> TryWriteFileSafely(const std::string& path, const void* data, std::size_t size) {
  using Stage = WriteFailure::Stage;
  if (!ValidName(path)) return Fail(Stage::Open, EINVAL);
  // Devices, pipes and folders cannot be replaced: write (or fail) in place.
  if (ThereButNotRegular(path)) return WriteInPlace(path, data, size, false);
  std::string target;
  if (const int e = ResolveLinks(path, target)) return Fail(Stage::Open, e);

  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Fail(Stage::Open, errno);
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
    if (!temp.empty()) ::unlink(temp.c_str());
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
  if (temp.empty()) {
    // An unnamed file is named while it is open; its data are on the disk
    // already, so that closing it afterwards can lose nothing.
    if (const int e = PutInPlace(fd.get(), temp, target)) return discard(Stage::Close, e);
    fd.Close();
  } else {
    if (const int e = fd.Close()) {
      ::unlink(temp.c_str());
      return Fail(Stage::Close, e);
    }
    if (const int e = PutInPlace(-1, temp, target)) return Fail(Stage::Close, e);
  }
  SyncFolder(DirName(target));
  return std::nullopt;
}

void WriteFileSafely(const std::string& path, const void* data, std::size_t size) {
  if (const auto failure = TryWriteFileSafely(path, data, size)) ThrowFileError(failure->err);
}

ReplacingFile::ReplacingFile(const std::string& path) {
  if (!ValidName(path)) ThrowFileError(EINVAL);
  if (ThereButNotRegular(path)) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) ThrowFileError(errno);
    return;
  }
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
    if (!hadOld_ || (e != EACCES && e != EPERM && e != EROFS)) ThrowFileError(e);
    inPlaceAtCommit_ = true;
    return;
  }
  replacing_ = true;
}

ReplacingFile::~ReplacingFile() { Discard(); }

void ReplacingFile::Write(const void* data, std::size_t size) {
  if (inPlaceAtCommit_) {
    held_.append(static_cast<const char*>(data), size);
    return;
  }
  if (fd_ < 0 || finished_) ThrowFileError(EBADF);
  if (const int e = WriteAll(fd_, data, size)) ThrowFileError(e);
  // A long output (a trajectory) goes to the disk while the run goes on,
  // rather than all at once in the fsync before the rename. Best effort:
  // the fsync still says whether it got there.
  constexpr std::size_t kEarlyWriteback = 256 * 1024;
  if (replacing_ && size >= kEarlyWriteback)
    (void)::sync_file_range(fd_, static_cast<off_t>(written_), static_cast<off_t>(size),
                            SYNC_FILE_RANGE_WRITE);
  written_ += size;
}

void ReplacingFile::Finish() {
  if (fd_ < 0 || finished_) return;
  if (replacing_) {
    if (::fsync(fd_) != 0) ThrowFileError(errno);
    if (hadOld_) {
      // Owner first: a change of owner clears the set-id bits.
      [[maybe_unused]] const int owned = ::fchown(fd_, static_cast<uid_t>(uid_), static_cast<gid_t>(gid_));
      if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) ThrowFileError(errno);
    }
    // An unnamed file stays open until it has its name: closed, it is gone.
    if (temp_.empty()) {
      finished_ = true;
      return;
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
  if (!replacing_) return;
  if (const int e = PutInPlace(fd_, temp_, target_)) ThrowFileError(e);
  replacing_ = false;
  // The data were on the disk before the name: the close can lose nothing.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  SyncFolder(DirName(target_));
}

void ReplacingFile::Discard() noexcept {
  inPlaceAtCommit_ = false;
  replacing_ = false;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace qd
