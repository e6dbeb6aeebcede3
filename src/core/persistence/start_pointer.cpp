#include "core/persistence/start_pointer.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/persistence/file_io.h"

namespace qd {
namespace {

constexpr const char* kFolder = "quindelle";
constexpr const char* kFileName = "Start.pln3";
// Far beyond any path the system accepts.
constexpr std::size_t kMaxLineBytes = 65536;

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return ".";
}

// Creates every missing folder on the way to `dir` (private to the user, as
// configuration folders are). 0 or an errno.
int MakeFolders(const std::string& dir) {
  std::size_t pos = dir.find('/', 1);
  for (;;) {
    const std::string part = pos == std::string::npos ? dir : dir.substr(0, pos);
    struct stat st;
    if (::stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    } else if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return errno;
    }
    if (pos == std::string::npos) return 0;
    pos = dir.find('/', pos + 1);
  }
}

void MakeFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  if (const int e = MakeFolders(path.substr(0, slash))) ThrowFileError(e);
}

}  // namespace

std::string StartPointerPath() {
  // A relative XDG_CONFIG_HOME is to be ignored, as for every program that
  // follows the convention.
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    base = xdg;
  else
    base = HomeFolder() + "/.config";
  return base + "/" + kFolder + "/" + kFileName;
}

bool StartPointerExists(const std::string& path) { return CanOpenForReading(path); }

std::string ReadStartPointer(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) ThrowFileError(EINVAL);
  // Only the first line is read. Non-blocking and bounded, so that a pipe or
  // a device put in the file's place cannot stall the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) ThrowFileError(errno);
  std::string line;
  int err = 0;
  struct stat st;
  if (::fstat(fd, &st) != 0)
    err = errno;
  else if (S_ISDIR(st.st_mode))
    err = EISDIR;
  char chunk[4096];
  bool done = err != 0;
  while (!done && line.size() < kMaxLineBytes) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) err = errno;
      break;
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] == '\n' || chunk[i] == '\r') {
        done = true;
        break;
      }
      line += chunk[i];
    }
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) ThrowFileError(err);
  return line;
}

void CreateStartPointer(const std::string& path) {
  MakeFolderOf(path);
  WriteFileSafely(path, "", 0);
}

void WriteStartPointer(const std::string& path, const std::string& name) {
  MakeFolderOf(path);
  WriteFileSafely(path, name.data(), name.size());
}

void RememberStartName(SimState& s, const std::string& path) {
  s.StartFileName = s.CurrentName;
  WriteStartPointer(path, s.StartFileName);
}

}  // namespace qd
