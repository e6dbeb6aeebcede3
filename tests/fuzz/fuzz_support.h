#pragma once
// What the fuzz targets share: a scratch file for the readers that take a
// path, and a check that fails loudly, so that a broken promise of a reader
// counts as a crash both under libFuzzer and in the corpus replay.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qd::fuzz {

// The detail often quotes the input: its control and non-ASCII bytes go to
// the log as \xNN, at most 300 of them.
[[noreturn]] inline void Fail(const char* what, const std::string& detail) {
  std::string shown;
  for (std::size_t i = 0; i < detail.size() && i < 300; ++i) {
    const auto c = static_cast<unsigned char>(detail[i]);
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  if (detail.size() > 300) shown += "...";
  std::fprintf(stderr, "fuzz check failed: %s %s\n", what, shown.c_str());
  std::abort();
}

#define QD_FUZZ_CHECK(cond, detail)                 \
  do {                                              \
    if (!(cond)) ::qd::fuzz::Fail(#cond, (detail)); \
  } while (false)

// A file of a given name in a folder of this process's own, rewritten with
// every input: readers that open a path read exactly the fuzzer's bytes.
// The folder is under TMPDIR (scripts/fuzz points it at a memory file
// system), so that an input costs no disk write.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quindelle-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) Fail("mkdtemp", tmpl);
    dir_ = tmpl;
    path_ = dir_ + "/" + name;
  }
  ~ScratchFile() {
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Path() const { return path_; }

  void Write(const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) Fail("open", path_);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t w = ::write(fd, data + done, size - done);
      if (w <= 0) Fail("write", path_);
      done += static_cast<std::size_t>(w);
    }
    ::close(fd);
  }

 private:
  std::string dir_, path_;
};

}  // namespace qd::fuzz
