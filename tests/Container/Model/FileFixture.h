// A folder of its own for each test that writes containers to disk, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

namespace model_test {

class FileFixture : public ::testing::Test {
 protected:
  // The folder is "<prefix><process id>-<test name>" in the temporary folder; m_path names
  // `file` in it.
  FileFixture(const char* prefix, const char* file) : m_prefix(prefix), m_file(file) {}

  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() /
            (m_prefix + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_dir);
    m_path = (m_dir / m_file).string();
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::filesystem::path m_dir;
  std::string m_path;

 private:
  std::string m_prefix;
  std::string m_file;
};

}  // namespace model_test
