// The stored bytes of every kind of container this library writes, kept as digests: a rich
// book, a book of many paragraphs, code files of many streams (compressed and stored, in memory
// and in a compound file) and an exchange-sized compound file. Work on the speed or memory of
// the writers must leave every one of them as it is.
#include "BookData.h"
#include "Container/Storage/CodeFile.h"
#include "Container/Storage/OLEStorage.h"
#include "FileFixture.h"
#include "ModelDump.h"
#include "ParagraphsBook.h"
#include "tests/Container/Storage/CodeFileWorkload.h"
#include "tests/platform/storage/ExchangeWorkload.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

using namespace model_test;

// FNV-1a, 64 bits, with the length: enough to notice any moved byte.
std::string DigestOf(const uint8_t* data, size_t size) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001B3ull;
  char text[64];
  std::snprintf(text, sizeof text, "%zu:%016" PRIx64, size, h);
  return text;
}

std::string FileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return DigestOf(bytes.data(), bytes.size());
}

std::string MemDigest(const MemFile& file) { return DigestOf(file.Data(), file.Size()); }

class StoredBytes : public FileFixture {
 protected:
  StoredBytes() : FileFixture("kesto-stored-", "stored.dwq") {}
};

TEST_F(StoredBytes, RichBook) {
  {
    OLEStorage root(m_path.c_str(), CD_CreateWrite);
    DWX_OutStorage2* container = CreateDWX2(root, false);
    {
      auto folder = container->CreateFolder2();
      WriteBook(FullBook(), folder);
      folder->Complete();
    }
    OLEStream(*container->PrivateData(), u"0", CD_CreateWrite).PutData("doc", 3);
    container->Release();
    root.Flush();
  }
  EXPECT_EQ(FileDigest(m_path), "39424:7f5c7c3a8d2a6a39");

  // The same book compressed, in a code file of its own.
  MemoryCodeFile file;
  WriteBook(FullBook(), CreateDWXFolder2(file.Medium(), true));
  EXPECT_EQ(MemDigest(file.code) + " " + MemDigest(file.summary), "19700:2446a22d5e0b83f2 88:270e6ebd4d0c8fc6");
}

TEST_F(StoredBytes, BookOfManyParagraphs) {
  paragraphs_book::WriteBook(m_path, 12);
  EXPECT_EQ(FileDigest(m_path), "1439232:172d410a909ec8d6");
}

TEST_F(StoredBytes, CodeFilesOfManyStreams) {
  std::mt19937 random(codefile_workload::kSeed);
  const auto items = codefile_workload::MakeItems(random, 2000);
  std::vector<std::string> digests;
  for (bool compress : {true, false}) {
    MemFile code, summary;
    codefile_workload::Write(*CreateCodeFile(std::make_unique<CF_MemoryMedium>(code, summary), compress),
                             items, codefile_workload::kFolders);
    digests.push_back(MemDigest(code) + " " + MemDigest(summary));
    {
      OLEStorage root(m_path.c_str(), CD_CreateWrite);
      codefile_workload::Write(
          *CreateCodeFile(OLEStorage(root, u"VerbantTextAndCode", CD_CreateWrite), compress), items,
          codefile_workload::kFolders);
      root.Flush();
    }
    digests.push_back(FileDigest(m_path));
  }
  EXPECT_EQ(digests, (std::vector<std::string>{
                         "12115565:96e5be2cb563aef1 88:270e6ebd4d0c8fc6", "12217856:deb19432374dc47d",
                         "19629675:9b226ace1793f10d 88:270e6ebd4d0c8fc6", "19791360:8e39de06e4b0184f"}));
}

// Stored streams of many pages, written in pieces of every kind, while another stream of the
// compound file takes sectors between their writes: whole pages go to the compound file
// together, and their sectors must lie where page-by-page writes put them.
TEST_F(StoredBytes, LargeStoredStreamsBesideAnotherStream) {
  std::mt19937 random(7);
  std::vector<uint8_t> bytes(3 * 1024 * 1024 + 100);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  // Cuts: whole pages from an empty page, pages after a part page, single pages, odd ends.
  const uint32_t cuts[] = {100000, 1 << 20, 4096, 3, 8192 + 5, 4096 * 3, 700000, 5000};
  const auto write = [&](CF_OutStorage& file, OLEStream* beside) {
    for (const char* name : {"big", "second"}) {
      auto stream = file.CreateStream(name, 0, cf_Stored);
      uint32_t done = 0;
      for (size_t k = 0; done < bytes.size(); ++k) {
        const uint32_t n = std::min<uint32_t>(cuts[k % 8], uint32_t(bytes.size()) - done);
        stream->PutData(bytes.data() + done, n);
        done += n;
        if (beside) beside->PutData(bytes.data() + k * 777, 700 + uint32_t(k) * 1000);
      }
      stream->Finish();
    }
    file.Finish();
  };
  MemFile code, summary;
  write(*CreateCodeFile(std::make_unique<CF_MemoryMedium>(code, summary), false), nullptr);
  std::vector<std::string> digests{MemDigest(code)};
  for (bool besides : {false, true}) {
    {
      OLEStorage root(m_path.c_str(), CD_CreateWrite);
      OLEStream beside(root, u"Beside", CD_CreateWrite);
      write(*CreateCodeFile(OLEStorage(root, u"VerbantTextAndCode", CD_CreateWrite), false),
            besides ? &beside : nullptr);
      root.Flush();
    }
    digests.push_back(FileDigest(m_path));
  }
  EXPECT_EQ(digests, (std::vector<std::string>{"6304027:8adb26ddd7eaa97e", "6360576:b79df6a0d8b11de0",
                                               "6589952:79f1e562f22432af"}));
}

TEST_F(StoredBytes, ExchangeSizedCompoundFile) {
  exchange_workload::write(m_path, exchange_workload::make());
  EXPECT_EQ(FileDigest(m_path), "80181248:ec0ad1cdeba5802d");
}

}  // namespace
