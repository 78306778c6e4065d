// A folder of its own for each test that writes containers to disk, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include "TempDir.h"

#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

namespace model_test {

class FileFixture : public ::testing::Test {
 protected:
  // The folder is a fresh scratch folder named after the prefix; m_path names `file` in it.
  FileFixture(const char* prefix, const char* file) : m_prefix(prefix), m_file(file) {}

  void SetUp() override {
    m_temp = std::make_unique<TempDir>(m_prefix);
    m_dir = m_temp->Path();
    m_path = (m_dir / m_file).string();
  }
  void TearDown() override { m_temp.reset(); }

  std::filesystem::path m_dir;
  std::string m_path;

 private:
  std::unique_ptr<TempDir> m_temp;
  std::string m_prefix;
  std::string m_file;
};

}  // namespace model_test
