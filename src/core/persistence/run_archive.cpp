#include "core/persistence/run_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/common/errors.h"
#include "core/persistence/extended_bytes.h"
#include "core/persistence/file_io.h"

namespace qd::archive {
namespace {

// A field added to the run state must be added to the snapshot's bytes too
// (and the format version raised), or a continued run would lose it.
struct ExpectedRunState {
  SlotArray<Extended> arrays[15];
  SlotArray<std::uint8_t> present;
  Extended params[11];
  std::int32_t taon, step;
};
static_assert(sizeof(RunState) == sizeof(ExpectedRunState), "the archive must keep every field of RunState");

// Each snapshot's frame starts with this tag.
constexpr std::uint8_t kRecordTag[4] = {'S', 'N', 'A', 'P'};
constexpr std::size_t kOptionsBytes = 9;
constexpr std::size_t kStateBytes = 4 + 4 + 11 * 10 + 15 * (kSlotCount + 1) * 10 + (kSlotCount + 1);
constexpr std::size_t kPayloadBytes = 8 + kOptionsBytes + 1 + kMaxFaultText + kStateBytes;
constexpr std::size_t kRecordBytes = 4 + 4 + kPayloadBytes + 4;
constexpr std::size_t kHeaderBytes = 8 + 4 + 4 + kOptionsBytes + 4;

using Arrays = SlotArray<Extended> RunState::*;
constexpr Arrays kArrays[15] = {&RunState::X,     &RunState::Y,     &RunState::Z,    &RunState::UX,
                                &RunState::UY,    &RunState::UZ,    &RunState::XNew, &RunState::YNew,
                                &RunState::ZNew,  &RunState::UXNew, &RunState::UYNew, &RunState::UZNew,
                                &RunState::ViewX, &RunState::ViewY, &RunState::ViewZ};

// Eight tables, so that the CRC takes eight bytes a round (slicing by 8):
// a snapshot's checksum then costs a few microseconds.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

const CrcTables& CrcTable() {
  static const CrcTables tables = [] {
    CrcTables t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n)
      for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
  }();
  return tables;
}

// Little-endian whatever the machine, as the format says; into a buffer
// sized beforehand, as a snapshot is written every so many steps of a run.
class Out {
 public:
  Out(std::vector<std::uint8_t>& b, std::size_t size) : b_(b) {
    b_.resize(size);
    p_ = b_.data();
  }
  void U8(std::uint8_t v) { *p_++ = v; }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) *p_++ = static_cast<std::uint8_t>(v >> (8 * i));
  }
  void I64(std::int64_t v) {
    const auto u = static_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) *p_++ = static_cast<std::uint8_t>(u >> (8 * i));
  }
  void Ext(Extended v) {
    StoreExtended(v, p_);
    p_ += 10;
  }
  void Bytes(const void* p, std::size_t n) {
    if (n > 0) std::memcpy(p_, p, n);
    p_ += n;
  }
  void Zeros(std::size_t n) {
    std::memset(p_, 0, n);
    p_ += n;
  }
  std::size_t Done() const { return static_cast<std::size_t>(p_ - b_.data()); }

 private:
  std::vector<std::uint8_t>& b_;
  std::uint8_t* p_;
};

class In {
 public:
  In(const std::uint8_t* p, std::size_t n) : p_(p), end_(p + n) {}
  std::uint8_t U8() { return *p_++; }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{p_[i]} << (8 * i);
    p_ += 4;
    return v;
  }
  std::int64_t I64() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= std::uint64_t{p_[i]} << (8 * i);
    p_ += 8;
    return static_cast<std::int64_t>(v);
  }
  Extended Ext() {
    const Extended v = BytesToExtended(p_);
    p_ += 10;
    return v;
  }
  const std::uint8_t* Skip(std::size_t n) {
    const std::uint8_t* at = p_;
    p_ += n;
    return at;
  }
  std::size_t Left() const { return static_cast<std::size_t>(end_ - p_); }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

void PutOptions(Out& o, const StepOptions& so) {
  o.U8(static_cast<std::uint8_t>(so.force.formula));
  o.U8(static_cast<std::uint8_t>(so.force.sign));
  o.U8(static_cast<std::uint8_t>(so.force.secondKindCount));
  o.U8(so.force.dropB);
  o.U8(so.force.dropCDF);
  o.U8(so.blockade);
  o.U8(so.cooler);
  o.U8(so.heater);
  o.U8(static_cast<std::uint8_t>(so.walls));
}

// False when a byte holds no value the program knows.
bool GetOptions(In& in, StepOptions& so) {
  const std::uint8_t f = in.U8(), sign = in.U8(), kinds = in.U8();
  std::uint8_t flags[5];
  for (auto& b : flags) b = in.U8();
  const std::uint8_t walls = in.U8();
  if (f > std::uint8_t(Formula::EPESminus) || sign > std::uint8_t(SignMode::Taoscope) ||
      walls > std::uint8_t(Walls::ThermosNXN) || (kinds != 30 && kinds != 15 && kinds != 10))
    return false;
  for (const auto b : flags)
    if (b > 1) return false;
  so.force.formula = Formula(f);
  so.force.sign = SignMode(sign);
  so.force.secondKindCount = kinds;
  so.force.dropB = flags[0] != 0;
  so.force.dropCDF = flags[1] != 0;
  so.blockade = flags[2] != 0;
  so.cooler = flags[3] != 0;
  so.heater = flags[4] != 0;
  so.walls = Walls(walls);
  return true;
}

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

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
  const CrcTables& t = CrcTable();
  const auto* p = static_cast<const std::uint8_t*>(data);
  crc = ~crc;
  for (; size >= 8; size -= 8, p += 8) {
    const std::uint32_t lo = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                                    std::uint32_t{p[3]} << 24);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; size > 0; --size, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::size_t RecordSize() { return kRecordBytes; }
std::size_t HeaderSize() { return kHeaderBytes; }

std::vector<std::uint8_t> EncodeRecord(const Entry& e) {
  std::vector<std::uint8_t> b;
  Out o(b, kRecordBytes);
  o.Bytes(kRecordTag, 4);
  o.U32(kPayloadBytes);
  o.I64(e.step);
  PutOptions(o, e.options);
  const std::size_t faultLength = std::min(e.fault.size(), kMaxFaultText);
  o.U8(static_cast<std::uint8_t>(faultLength));
  o.Bytes(e.fault.data(), faultLength);
  o.Zeros(kMaxFaultText - faultLength);
  const RunState& s = e.state;
  o.U32(static_cast<std::uint32_t>(s.TaonCount));
  o.U32(static_cast<std::uint32_t>(s.StepCount));
  for (const auto param : kParameterBlock) o.Ext(s.*param);
  for (const Arrays a : kArrays)
    for (const Extended v : s.*a) o.Ext(v);
  o.Bytes(s.Present.data(), s.Present.size());
  o.U32(Crc32(b.data(), o.Done()));
  return b;
}

std::vector<std::uint8_t> EncodeHeader(const StepOptions& so) {
  std::vector<std::uint8_t> b;
  Out o(b, kHeaderBytes);
  o.Bytes(kMagic, sizeof kMagic);
  o.U32(kFormatVersion);
  o.U32(kOptionsBytes);
  PutOptions(o, so);
  o.U32(Crc32(b.data(), o.Done()));
  return b;
}

namespace {

// Empty when the frame is sound; otherwise what is wrong with it.
std::string DecodeRecord(const std::uint8_t* p, Entry* e) {
  if (std::memcmp(p, kRecordTag, 4) != 0) return "no snapshot mark";
  In in(p + 4, kRecordBytes - 4);
  if (in.U32() != kPayloadBytes) return "wrong snapshot length";
  In tail(p + kRecordBytes - 4, 4);
  if (tail.U32() != Crc32(p, kRecordBytes - 4)) return "checksum mismatch";
  Entry local;
  Entry& x = e != nullptr ? *e : local;
  x.step = in.I64();
  if (!GetOptions(in, x.options)) return "unknown option value";
  const std::size_t faultLength = in.U8();
  if (faultLength > kMaxFaultText) return "fault text too long";
  const std::uint8_t* text = in.Skip(kMaxFaultText);
  if (e == nullptr) return {};
  x.fault.assign(reinterpret_cast<const char*>(text), faultLength);
  RunState& s = x.state;
  s.TaonCount = static_cast<std::int32_t>(in.U32());
  s.StepCount = static_cast<std::int32_t>(in.U32());
  for (const auto param : kParameterBlock) s.*param = in.Ext();
  for (const Arrays a : kArrays)
    for (Extended& v : s.*a) v = in.Ext();
  std::memcpy(s.Present.data(), in.Skip(s.Present.size()), s.Present.size());
  return {};
}

}  // namespace

bool LooksLikeArchive(const std::string& path) {
  const int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return false;
  std::uint8_t head[sizeof kMagic];
  const bool yes = ReadAt(fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
                   std::memcmp(head, kMagic, sizeof head) == 0;
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
  int err = WriteAll(fd_, start.data(), start.size());
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

Writer::Writer(const std::string& path, std::uint64_t wholeSize) {
  fd_ = OpenRegular(path, O_RDWR | O_APPEND);
  if (fd_ < 0) ThrowFileError(errno);
  struct stat st;
  if (::fstat(fd_, &st) != 0 || std::uint64_t(st.st_size) < wholeSize) {
    ::close(fd_);
    fd_ = -1;
    throw FileError("the archive changed while it was read");
  }
  if (std::uint64_t(st.st_size) > wholeSize && ::ftruncate(fd_, static_cast<off_t>(wholeSize)) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    ThrowFileError(err);
  }
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

Reader::Reader(const std::string& path) : path_(path) {
  fd_ = OpenRegular(path, O_RDONLY);
  if (fd_ < 0) ThrowFileError(errno);
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
  if (size == 0) Damaged("not a run archive (the file is empty)");
  std::vector<std::uint8_t> buf(kRecordBytes > kHeaderBytes ? kRecordBytes : kHeaderBytes);
  const ssize_t got = ReadAt(fd_, buf.data(), kHeaderBytes, 0);
  if (got < 0) ThrowFileError(errno);
  const std::size_t head = static_cast<std::size_t>(got);
  if (std::memcmp(buf.data(), kMagic, std::min(head, sizeof kMagic)) != 0)
    Damaged("not a run archive (it does not start with the archive's mark)");
  if (head < kHeaderBytes) Damaged("the archive's header is cut short");
  In in(buf.data() + sizeof kMagic, kHeaderBytes - sizeof kMagic);
  const std::uint32_t version = in.U32();
  if (version != kFormatVersion)
    Damaged("archive format version " + std::to_string(version) + "; this program reads version " +
            std::to_string(kFormatVersion));
  const std::uint32_t optionBytes = in.U32();
  In crc(buf.data() + kHeaderBytes - 4, 4);
  if (optionBytes != kOptionsBytes || crc.U32() != Crc32(buf.data(), kHeaderBytes - 4) ||
      !GetOptions(in, options_))
    Damaged("the archive's header is damaged");

  std::uint64_t at = kHeaderBytes;
  while (at < size) {
    const std::uint64_t left = size - at;
    if (left < kRecordBytes) {
      tornBytes_ = left;
      break;
    }
    const ssize_t n = ReadAt(fd_, buf.data(), kRecordBytes, at);
    if (n < 0) ThrowFileError(errno);
    if (std::size_t(n) < kRecordBytes) {
      tornBytes_ = std::size_t(n);
      break;
    }
    const std::string wrong = DecodeRecord(buf.data(), nullptr);
    if (!wrong.empty()) {
      // The last frame in the file may be one the system never finished
      // writing; one with snapshots after it was damaged afterwards.
      if (left == kRecordBytes) {
        tornBytes_ = left;
        break;
      }
      Damaged("snapshot " + std::to_string(offsets_.size() + 1) + " is damaged (" + wrong + " at byte " +
              std::to_string(at) + ")");
    }
    In step(buf.data() + 8, 8);
    offsets_.push_back(at);
    steps_.push_back(step.I64());
    at += kRecordBytes;
  }
  wholeSize_ = kHeaderBytes + offsets_.size() * kRecordBytes;
  closer.armed = false;
}

Reader::~Reader() {
  if (fd_ >= 0) ::close(fd_);
}

Entry Reader::At(std::size_t i) const {
  if (i >= offsets_.size()) throw FileError("no snapshot " + std::to_string(i + 1) + " in the archive");
  std::vector<std::uint8_t> buf(kRecordBytes);
  const ssize_t n = ReadAt(fd_, buf.data(), kRecordBytes, offsets_[i]);
  if (n < 0) ThrowFileError(errno);
  Entry e;
  if (std::size_t(n) != kRecordBytes || !DecodeRecord(buf.data(), &e).empty())
    throw FileError("the archive changed while it was read");
  return e;
}

}  // namespace qd::archive
