#pragma once
// Scratch folders, raw file access and error texts for the core tests.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace qd::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents afterwards (permissions restored first, so that nothing is left).
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quindelle-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
      if (it->is_directory(ec) && !it->is_symlink(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Names in the folder, for checking that no temporary file was left.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      names.push_back(e.path().filename().string());
    return names;
  }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path) {
  const auto b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

// The what() text of the E that `fn` throws, or `none` when it throws nothing.
template <class E, class Fn>
std::string ErrorOf(Fn&& fn, const std::string& none = "<no error>") {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  }
  return none;
}

// The user id that root drops to where a test needs permission bits obeyed.
inline constexpr uid_t kNobody = 65534;

inline constexpr const char* kNoDrop = "<cannot drop privileges>";

// Runs `fn` in a forked child and returns its text (or the text of what it
// threw). With `unprivileged`, a root child first becomes `kNobody`, since
// root ignores permission bits; the child then returns kNoDrop when that is
// refused. A forked child also keeps resource limits away from the runner.
inline std::string RunInChild(const std::function<std::string()>& fn, bool unprivileged = false) {
  int fds[2];
  if (::pipe(fds) != 0) return "<pipe failed>";
  const pid_t pid = ::fork();
  if (pid < 0) return "<fork failed>";
  if (pid == 0) {
    ::close(fds[0]);
    std::string out;
    if (unprivileged && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      out = kNoDrop;
    } else {
      try {
        out = fn();
      } catch (const std::exception& e) {
        out = e.what();
      }
    }
    const char* p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
      const ssize_t n = ::write(fds[1], p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) result.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "<child died>";
  return result;
}

// Makes `path` reachable and owned by the user the unprivileged child runs as.
inline void HandToChild(const std::string& path) {
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0) << path;
  }
}

}  // namespace qd::testing
