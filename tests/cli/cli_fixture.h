// Runs the real tessera-cli as a child process in a scratch folder of its
// own per test, for the command tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/archive_writer.h"

namespace clitest {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string out, err;
};

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Shell quoting for a path.
inline std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

class CliFixture : public ::testing::Test {
 protected:
  explicit CliFixture(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    dir_ = fs::temp_directory_path() / (prefix_ + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    // Restored read-only files and folders must not keep the folder from going.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir_, ec); it != fs::recursive_directory_iterator(); ++it)
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  // The command without a terminal: standard input is empty.
  CliRun Cli(const std::string& args) {
    const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
    const std::string command = std::string("timeout 60 '") + TESSERA_CLI + "' " + args + " >'" + out.string() +
                                "' 2>'" + err.string() + "' </dev/null";
    CliRun r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
  }

  fs::path Write(const testsupport::ArchiveSpec& plan, const std::string& name) {
    fs::path p = dir_ / name;
    testsupport::WriteArchive(plan, p, &layout_);
    return p;
  }

  fs::path dir_;
  testsupport::ArchiveLayout layout_;

 private:
  std::string prefix_;
};

}  // namespace clitest
