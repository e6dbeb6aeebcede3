#pragma once
// Small pieces shared by the file readers and writers; not for other callers.
#include <unistd.h>

#include <cerrno>
#include <string>

namespace qd::posix {

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
inline bool ValidName(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

inline std::string DirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

inline std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace qd::posix
