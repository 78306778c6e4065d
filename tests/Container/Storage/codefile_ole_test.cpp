// Code files inside a compound file, checked against an independent reader of the format.
#include "Container/Storage/CodeFolder.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/OLEStorage.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char16_t kTextAndCode[] = u"VerbantTextAndCode";

class CodeFileInStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    m_temp = std::make_unique<TempDir>("kesto-codefile");
    m_dir = m_temp->Path();
    m_path = (m_dir / "golden.dwq").string();
  }
  void TearDown() override { m_temp.reset(); }

  // The golden file: one root stream "x" holding "AB", compression off.
  void WriteGolden() {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    {
      OLEStorage textAndCode(root, kTextAndCode, CD_CreateWrite);
      auto file = CreateCodeFile(textAndCode, false);
      auto folder = CreateCodeFolder(*file);
      auto x = folder->CreateStream("x", 0, cf_Stored);
      x->PutData("AB", 2);
      x->Finish();
      folder->Finish();
      file->Finish();
    }
    root.Flush();
  }

  static Bytes ReadStream(OLEStorage& storage, const char16_t* name) {
    OLEStream stream(storage, name, CD_OpenRead);
    Bytes all(stream.GetSize());
    if (!all.empty()) {
      EXPECT_EQ(stream.GetData(all.data(), uint32_t(all.size())), all.size());
    }
    return all;
  }

  std::unique_ptr<TempDir> m_temp;
  fs::path m_dir;
  std::string m_path;
};

TEST_F(CodeFileInStorage, GoldenBytesAndAnIndependentReaderOfTheProperties) {
  WriteGolden();
  {
    OLEStorage root(m_path.c_str(), CD_OpenRead);
    OLEStorage textAndCode(root, kTextAndCode, CD_OpenRead);
    const Bytes code = ReadStream(textAndCode, kCodeFileStreamName);
    EXPECT_EQ(code.size(), 79u);
    EXPECT_EQ(ReadStream(textAndCode, kCodeFileSummaryName).size(), 88u);

    auto file = OpenCodeFile(textAndCode);
    auto folder = OpenCodeFolder(*file);
    auto x = folder->OpenStream("x", 0);
    ASSERT_TRUE(x);
    char ab[3] = {};
    EXPECT_EQ(x->GetData(ab, 3), 2u);
    EXPECT_STREQ(ab, "AB");
  }
  const std::string script =
      "import olefile,sys\n"
      "ole=olefile.OleFileIO(sys.argv[1])\n"
      "p=ole.getproperties(['VerbantTextAndCode','\\x05VerbantSummaryInformation'])\n"
      "print(sorted(p.items()))\n";
  const fs::path scriptPath = m_dir / "properties.py";
  FILE* out = std::fopen(scriptPath.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fputs(script.c_str(), out);
  std::fclose(out);
  const std::string command = "/usr/bin/python3 '" + scriptPath.string() + "' '" + m_path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  pclose(pipe);
  EXPECT_EQ(output, "[(3000, 1), (3001, 1)]\n");
}

TEST_F(CodeFileInStorage, MissingItemsAreStorageErrors) {
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    OLEStorage empty(root, kTextAndCode, CD_CreateWrite);
    root.Flush();
  }
  OLEStorage root(m_path.c_str(), CD_OpenRead);
  OLEStorage textAndCode(root, kTextAndCode, CD_OpenRead);
  int code = 0;
  try {
    OpenCodeFile(textAndCode);
  } catch (const FilterException& e) {
    code = e.Code();
  }
  EXPECT_EQ(code, FE_StorageFileNotFound);
}

}  // namespace
