#include "core/persistence/run_archive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/common/errors.h"
#include "core/persistence/file_io.h"

namespace qd::archive {
namespace {

[[noreturn]] void Damaged(const std::string& what) { throw FileError(what); }

ssize_t ReadAt(int fd, void* buf, std::size_t n, std::uint64_t at) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(at + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

// 0 or an errno; a write that stores nothing, or a file size limit, means
// the medium is full.
int WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, p + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno == EFBIG ? ENOSPC : errno;
    }
    if (w == 0) return ENOSPC;
    done += static_cast<std::size_t>(w);
  }
  return 0;
}

// Opens a regular file without waiting on a pipe or a device; -1 and errno.
int OpenRegular(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int err = 0;
  if (::fstat(fd, &st) != 0)
    err = errno;
  else if (S_ISDIR(st.st_mode))
    err = EISDIR;
  else if (!S_ISREG(st.st_mode))
    err = EACCES;
  else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
    err = errno;
  if (err != 0) {
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// Locks the whole file for writing without waiting: 0, EWOULDBLOCK when
// another open file holds the lock, or an errno. The lock belongs to the
// open file, not to the process, so that a second Writer in the same
// process is refused too.
int Lock(int fd) {
  struct flock l {};
  l.l_type = F_WRLCK;
  l.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &l) == 0) return 0;
  if (errno == EAGAIN || errno == EACCES) return EWOULDBLOCK;
  if (errno != EINVAL) return errno;
  // A kernel without open file description locks.
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    if (errno != EINTR) return errno;
  return 0;
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Base(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool LooksLikeArchive(const std::string& path) {
  const int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return false;
  std::uint8_t head[sizeof kMagic];
  const bool yes =
      ReadAt(fd, head, sizeof head, 0) == ssize_t(sizeof head) && std::memcmp(head, kMagic, sizeof head) == 0;
  ::close(fd);
  return yes;
}

// ---- Writer ------------------------------------------------------------------

Writer::Writer(const std::string& path, const Entry& first) {
  // A name that is taken is refused before anything is written.
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) throw FileError("File exists");
  std::vector<std::uint8_t> start = EncodeHeader(first.options);
  const std::vector<std::uint8_t> record = EncodeRecord(first);
  start.insert(start.end(), record.begin(), record.end());

  // An unnamed file, where the file system has them, so that a run killed
  // before the link leaves nothing behind; a named temporary file elsewhere.
  std::string temp;
  fd_ = ::open(Folder(path).c_str(), O_TMPFILE | O_RDWR | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) ThrowFileError(errno);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u.tmp", static_cast<long>(::getpid()), counter++);
    temp = Folder(path) + "/." + Base(path).substr(0, 100) + suffix;
    fd_ = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) ThrowFileError(errno);
  }
  if (fd_ < 0) ThrowFileError(EEXIST);
  // Locked before it has a name, so that no other run finds it unlocked.
  int err = Lock(fd_);
  if (err == 0) err = WriteAll(fd_, start.data(), start.size());
  // link() never replaces a file: a file that appeared meanwhile is kept.
  if (err == 0) {
    const std::string from = temp.empty() ? "/proc/self/fd/" + std::to_string(fd_) : temp;
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, path.c_str(), temp.empty() ? AT_SYMLINK_FOLLOW : 0) != 0)
      err = errno;
  }
  if (!temp.empty()) ::unlink(temp.c_str());
  if (err != 0) {
    ::close(fd_);
    fd_ = -1;
    if (err == EEXIST) throw FileError("File exists");
    ThrowFileError(err);
  }
  size_ = start.size();
}

Writer::Writer(const std::string& path) {
  fd_ = OpenRegular(path, O_RDWR | O_APPEND);
  if (fd_ < 0) ThrowFileError(errno);
  if (const int err = Lock(fd_)) {
    ::close(fd_);
    fd_ = -1;
    if (err == EWOULDBLOCK) throw FileError(kBeingWritten);
    ThrowFileError(err);
  }
}

void Writer::ContinueAfter(std::uint64_t wholeSize) {
  struct stat st;
  if (::fstat(fd_, &st) != 0) ThrowFileError(errno);
  // Nobody else writes a locked archive: a smaller file was cut meanwhile
  // by a program that does not lock.
  if (std::uint64_t(st.st_size) < wholeSize) throw FileError("the archive changed while it was read");
  if (std::uint64_t(st.st_size) > wholeSize && ::ftruncate(fd_, static_cast<off_t>(wholeSize)) != 0)
    ThrowFileError(errno);
  size_ = wholeSize;
}

Writer::~Writer() {
  if (fd_ >= 0) ::close(fd_);
}

void Writer::Append(const Entry& e) {
  if (fd_ < 0) throw FileError("the archive is closed");
  buffer_ = EncodeRecord(e);
  if (const int err = WriteAll(fd_, buffer_.data(), buffer_.size())) {
    // A snapshot cut short would be read as a torn tail anyway; cutting it
    // off leaves a clean archive for a resumed run.
    if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
      // The reader takes the cut snapshot for a torn tail.
    }
    ThrowFileError(err);
  }
  size_ += buffer_.size();
}

void Writer::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  int err = 0;
  if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) ThrowFileError(err);
}

// ---- Reader ------------------------------------------------------------------

namespace {

// The bytes a frame starts with: its tag and the length of what follows
// up to the checksum.
std::array<std::uint8_t, 8> FrameStart() {
  const auto payload = static_cast<std::uint32_t>(RecordSize() - 12);
  return {'S',
          'N',
          'A',
          'P',
          std::uint8_t(payload),
          std::uint8_t(payload >> 8),
          std::uint8_t(payload >> 16),
          std::uint8_t(payload >> 24)};
}

bool AllZero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

Reader::Reader(const std::string& path) : path_(path) {
  fd_ = OpenRegular(path, O_RDONLY);
  if (fd_ < 0) ThrowFileError(errno);
  Scan();
}

Reader::Reader(const std::string& path, const Writer& w) : path_(path) {
  fd_ = ::fcntl(w.Descriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0) ThrowFileError(errno);
  Scan();
}

void Reader::Scan() {
  struct Closer {
    Reader* r;
    bool armed = true;
    ~Closer() {
      if (armed) {
        ::close(r->fd_);
        r->fd_ = -1;
      }
    }
  } closer{this};
  struct stat st;
  if (::fstat(fd_, &st) != 0) ThrowFileError(errno);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const std::size_t rec = RecordSize(), headBytes = HeaderSize();
  if (size == 0) Damaged("not a run archive (the file is empty)");
  std::vector<std::uint8_t> buf(rec), previous(rec);
  const ssize_t got = ReadAt(fd_, buf.data(), headBytes, 0);
  if (got < 0) ThrowFileError(errno);
  const std::size_t head = static_cast<std::size_t>(got);
  if (std::memcmp(buf.data(), kMagic, std::min(head, sizeof kMagic)) != 0)
    Damaged("not a run archive (it does not start with the archive's mark)");
  if (head < headBytes) Damaged("the archive's header is cut short");
  auto u32 = [&buf](std::size_t at) {
    return std::uint32_t{buf[at]} | std::uint32_t{buf[at + 1]} << 8 | std::uint32_t{buf[at + 2]} << 16 |
           std::uint32_t{buf[at + 3]} << 24;
  };
  const std::uint32_t version = u32(8);
  if (version != kFormatVersion)
    Damaged("archive format version " + std::to_string(version) + "; this program reads version " +
            std::to_string(kFormatVersion));
  // The mark, the version, the options' length, the options, the checksum.
  if (u32(12) != headBytes - 20 || u32(headBytes - 4) != Crc32(buf.data(), headBytes - 4) ||
      !DecodeOptions(buf.data() + 16, options_))
    Damaged("the archive's header is damaged");

  static const std::array<std::uint8_t, 8> kFrameStart = FrameStart();
  auto stepIn = [](const std::uint8_t* frame) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= std::uint64_t{frame[kStepAt + std::size_t(i)]} << (8 * i);
    return static_cast<std::int64_t>(v);
  };
  bool faulted = false;  // the last snapshot ended the run with a fault
  for (std::uint64_t at = headBytes; at < size; at += rec) {
    const std::uint64_t left = size - at;
    const ssize_t n = ReadAt(fd_, buf.data(), std::min<std::uint64_t>(left, rec), at);
    if (n < 0) ThrowFileError(errno);
    const std::string number = std::to_string((at - headBytes) / rec + 1);
    auto damaged = [&](const std::string& what) {
      Damaged("snapshot " + number + " is damaged (" + what + " at byte " + std::to_string(at) + ")");
    };
    const auto got = static_cast<std::size_t>(n);
    if (got < rec) {
      // What a run stopped while writing a snapshot leaves: its start, or
      // zeros where the system had not yet written it.
      const bool zeros = AllZero(buf.data(), got);
      if (!zeros && std::memcmp(buf.data(), kFrameStart.data(), std::min<std::size_t>(got, 8)) != 0)
        damaged("bytes that are no snapshot");
      tail_ = zeros ? Tail::Zeros : Tail::Cut;
      tornBytes_ = got;
      if (!zeros && got >= kStepAt + 8) tornStep_ = stepIn(buf.data());
      break;
    }
    if (const std::string wrong = CheckFrame(buf.data()); !wrong.empty()) {
      // The last frame may be one whose data never all reached the disk: a
      // system that stops leaves zeros where it had not written yet, and a
      // whole sector of them at the end is no snapshot's checksum. A whole
      // frame wrong otherwise was changed after it was written.
      const std::uint64_t lastSector = std::max<std::uint64_t>(at, (size - 1) / 512 * 512);
      if (left == rec && AllZero(buf.data() + (lastSector - at), std::size_t(size - lastSector))) {
        tail_ = Tail::Zeros;
        tornBytes_ = rec;
        if (std::memcmp(buf.data(), kFrameStart.data(), 8) == 0) tornStep_ = stepIn(buf.data());
        break;
      }
      damaged(wrong);
    }
    if (const std::string wrong = DecodeRecord(buf.data(), nullptr); !wrong.empty()) damaged(wrong);
    const std::int64_t step = stepIn(buf.data());
    const bool fault = buf[kFaultAt] != 0;
    if (faulted) damaged("a snapshot after the one whose fault ended the run");
    if (!steps_.empty() && step <= steps_.back()) {
      // The fault after a snapshot's step, written as a snapshot of its
      // own: the same bytes but for the fault text and the checksum.
      const bool sameState =
          std::memcmp(buf.data(), previous.data(), kFaultAt) == 0 &&
          std::memcmp(buf.data() + kTaonAt, previous.data() + kTaonAt, rec - 4 - kTaonAt) == 0;
      if (!(step == steps_.back() && fault && previous[kFaultAt] == 0 && sameState))
        damaged("step " + std::to_string(step) + " after step " + std::to_string(steps_.back()));
      offsets_.back() = at;
    } else {
      offsets_.push_back(at);
      steps_.push_back(step);
    }
    faulted = fault;
    std::swap(buf, previous);
  }
  if (tornStep_ && (*tornStep_ < 0 || *tornStep_ > kLastStep)) tornStep_.reset();
  wholeSize_ = size - tornBytes_;
  closer.armed = false;
}

Reader::~Reader() {
  if (fd_ >= 0) ::close(fd_);
}

Entry Reader::At(std::size_t i) const {
  if (i >= offsets_.size()) throw FileError("no snapshot " + std::to_string(i + 1) + " in the archive");
  std::vector<std::uint8_t> buf(RecordSize());
  const ssize_t n = ReadAt(fd_, buf.data(), buf.size(), offsets_[i]);
  if (n < 0) ThrowFileError(errno);
  Entry e;
  if (std::size_t(n) != buf.size() || !CheckFrame(buf.data()).empty() ||
      !DecodeRecord(buf.data(), &e).empty())
    throw FileError("the archive changed while it was read");
  return e;
}

}  // namespace qd::archive
