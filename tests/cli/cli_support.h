#pragma once
// Scratch folders and configurations for the command-line tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/persistence/config_record.h"
#include "core/structures/structures.h"

namespace qd::clitest {

// How many files of the folder the process has open, named or not: an
// output being written has no name there until it is complete.
inline int FilesOpenIn(pid_t pid, const std::filesystem::path& dir) {
  std::error_code ec;
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::filesystem::path target = std::filesystem::read_symlink(e.path(), ec);
    n += !ec && target.parent_path() == dir;
  }
  return n;
}

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quindelle-cli-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // The easy square; `d2` 0 makes its first step fault.
  std::string WriteSquare(const std::string& name, Extended d2 = -1) {
    SimState s{};
    s.TaonCount = kSlotCount;
    StructureBuilder(s);
    s.Dt = 0.001L;
    s.UX[2] = 0.125L;
    if (d2 >= 0) s.D2 = d2;
    FillConfigRecord(s);
    WriteConfigFile(s, Path(name));
    return Path(name);
  }

  static std::string Bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;
};

}  // namespace qd::clitest
