#include <gtest/gtest.h>

#include <string>

#include "Container/Storage/CachedOutStream.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/MemFile.h"
#include "Container/Storage/Streams.h"
#include "TestStreams.h"

namespace {

TEST(CachedOutStream, BuffersUpToItsSizeAndPassesLargeWritesThrough) {
  const std::vector<uint8_t> data = Pattern(8000);
  {
    RecordingOut target;
    CachedOutStream cache(target, false);
    EXPECT_EQ(cache.GetOffset(), 0u);
    cache.PutData(data.data(), 4096);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(cache.GetOffset(), 4096u);
  }
  {
    RecordingOut target;
    CachedOutStream cache(target, false);
    cache.PutData(data.data(), 4097);
    EXPECT_EQ(target.calls, std::vector<uint32_t>{4097});
  }
  {
    RecordingOut target;
    CachedOutStream cache(target, false);
    cache.PutData(data.data(), 3000);
    cache.PutData(data.data() + 3000, 2049);
    EXPECT_EQ(target.calls, (std::vector<uint32_t>{3000, 2049}));
    EXPECT_EQ(cache.GetOffset(), 5049u);
  }
  {
    RecordingOut target;
    CachedOutStream cache(target, false);
    cache.PutData(data.data(), 3000);
    cache.PutData(data.data() + 3000, 2000);
    EXPECT_EQ(target.calls, std::vector<uint32_t>{3000});
    EXPECT_EQ(cache.GetOffset(), 5000u);
    cache.Finish();
    EXPECT_EQ(target.calls, (std::vector<uint32_t>{3000, 2000}));
    EXPECT_EQ(target.bytes, std::vector<uint8_t>(data.begin(), data.begin() + 5000));
  }
}

// Pieces reach the target in the cuts that PutData piece by piece makes, whatever was pending
// before and whatever the piece's size; runs of whole pieces go on in one call.
TEST(CachedOutStream, PiecesReachTheTargetInTheCutsOfSingleWrites) {
  struct PiecesOut : RecordingOut {
    void PutPieces(const void* data, uint32_t count, uint32_t piece) override {
      runs.push_back(count);
      OutStream::PutPieces(data, count, piece);
    }
    std::vector<uint32_t> runs;
  };
  const std::vector<uint8_t> data = Pattern(60000);
  for (uint32_t before : {0u, 100u, 3000u, 4096u}) {
    for (uint32_t piece : {4096u, 3000u, 2048u, 1000u, 5000u}) {
      for (uint32_t count : {piece * 7, piece * 8, piece * 8 + 123, piece + 1}) {
        PiecesOut gathered;
        RecordingOut single;
        {
          CachedOutStream a(gathered, false), b(single, false);
          a.PutData(data.data(), before);
          b.PutData(data.data(), before);
          a.PutPieces(data.data() + before, count, piece);
          for (uint32_t done = 0; done < count; done += piece)
            b.PutData(data.data() + before + done, std::min(piece, count - done));
          EXPECT_EQ(a.GetOffset(), b.GetOffset());
          ASSERT_EQ(gathered.calls, single.calls) << before << " " << piece << " " << count;
          EXPECT_EQ(gathered.bytes, single.bytes);
          a.PutData("z", 1);  // what is still pending was copied
          b.PutData("z", 1);
        }
        EXPECT_EQ(gathered.calls, single.calls) << before << " " << piece << " " << count;
        EXPECT_EQ(gathered.bytes, single.bytes);
        EXPECT_TRUE(piece != 4096 || count < 7 * piece || !gathered.runs.empty());
        for (const uint32_t run : gathered.runs) EXPECT_EQ(run % piece, 0u);
      }
    }
  }
}

TEST(CachedOutStream, DestructorPassesOnThePendingBytesAndDeletesAnOwnedTarget) {
  RecordingOut target;
  {
    CachedOutStream cache(target, false);
    cache.PutData("abc", 3);
    cache.PutData(nullptr, 5);  // nothing
    EXPECT_EQ(cache.GetOffset(), 3u);
  }
  EXPECT_EQ(target.bytes, (std::vector<uint8_t>{'a', 'b', 'c'}));

  auto* owned = new MemFile;
  {
    CachedOutStream cache(*owned, true);
    cache.PutData("xyz", 3);
  }  // owned is flushed and deleted; the sanitizer build checks the deletion
}

TEST(CachedOutStream, AFailedFinishRaisesButTheDestructorOnlyWarns) {
  RecordedWarnings warnings;
  FailingOut target;
  {
    CachedOutStream cache(target, false);
    cache.PutData("abc", 3);
    EXPECT_THROW(cache.Finish(), FilterException);
  }
  EXPECT_TRUE(warnings.Codes().empty());  // the failure was reported once, by Finish
  {
    CachedOutStream cache(target, false);
    cache.PutData("abc", 3);
  }
  EXPECT_EQ(warnings.Codes(), std::vector<int>{33012});
}

TEST(ShortString, RoundTripAndPieces) {
  MemFile file;
  const std::string text(300, 'q');
  WriteShortString(text, file);
  EXPECT_EQ(file.Size(), 302u);
  EXPECT_EQ(file.Data()[0], 300 & 0xFF);
  EXPECT_EQ(file.Data()[1], 300 >> 8);

  VectorIn source(std::vector<uint8_t>(file.Data(), file.Data() + file.Size()));
  std::string read;
  EXPECT_TRUE(ReadShortString(read, source));
  EXPECT_EQ(read, text);
  ASSERT_EQ(source.reads.size(), 3u);
  EXPECT_EQ(source.reads[1].count, 256u);
  EXPECT_EQ(source.reads[2].count, 44u);

  VectorIn truncated(std::vector<uint8_t>(file.Data(), file.Data() + file.Size() - 1));
  EXPECT_FALSE(ReadShortString(read, truncated));
  EXPECT_EQ(read.size(), 299u);

  VectorIn lengthOnly({0x05});
  EXPECT_FALSE(ReadShortString(read, lengthOnly));
  VectorIn empty({0x00, 0x00});
  read = "old";
  EXPECT_TRUE(ReadShortString(read, empty));
  EXPECT_TRUE(read.empty());
}

TEST(ShortString, TooLongIsRefusedNotCut) {
  MemFile file;
  WriteShortString(std::string(65535, 'a'), file);
  EXPECT_EQ(file.Size(), 65537u);
  try {
    WriteShortString(std::string(65536, 'a'), file);
    FAIL();
  } catch (const FilterException& e) {
    EXPECT_EQ(e.Code(), 33001);
  }
  EXPECT_EQ(file.Size(), 65537u);
}

TEST(MemFile, WritesPastTheEndGrowAndReadsPastItAnswerNothing) {
  MemFile file;
  file.Seek(10, SO_Begin);
  file.PutData("12345", 5);
  EXPECT_EQ(file.Size(), 15u);
  EXPECT_EQ(file.Seek(0, SO_Current), 15u);
  EXPECT_EQ(file.Capacity(), 5u + 2 * 10u);

  file.Seek(0, SO_Begin);
  char buffer[32];
  EXPECT_EQ(file.GetData(buffer, sizeof buffer), 15u);
  EXPECT_EQ(std::string(buffer + 10, 5), "12345");

  file.Seek(40, SO_Begin);
  EXPECT_EQ(file.GetData(buffer, 4), 0u);
  EXPECT_EQ(file.Seek(0, SO_Current), 40u);
  EXPECT_EQ(file.Seek(-5, SO_End), 10u);
  EXPECT_EQ(file.Seek(2, SO_Current), 12u);
}

TEST(MemFile, ClearKeepsTheBlockAndResizeCutsToThePosition) {
  MemFile file;
  file.PutData("abcdefgh", 8);
  const uint32_t capacity = file.Capacity();
  file.Clear();
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_EQ(file.Capacity(), capacity);
  file.PutData("xy", 2);
  EXPECT_EQ(file.Size(), 2u);

  file.Seek(1, SO_Begin);
  file.Resize();
  EXPECT_EQ(file.Size(), 1u);
  EXPECT_EQ(file.Capacity(), 1u);
  EXPECT_EQ(file.Data()[0], 'x');
  file.Seek(4, SO_Begin);
  file.Resize();
  EXPECT_EQ(file.Size(), 4u);
}

TEST(CopyStreamData, CopiesInBlocksAndStopsWhenTheSourceRunsDry) {
  const std::vector<uint8_t> data = Pattern(2500);
  VectorIn source(data);
  RecordingOut target;
  EXPECT_EQ(CopyStreamData(source, target, 2000, 1024), 2000u);
  EXPECT_EQ(target.calls, (std::vector<uint32_t>{1024, 976}));
  EXPECT_EQ(CopyStreamData(source, target, 2000, 1024), 500u);
  EXPECT_EQ(target.bytes, data);
}

}  // namespace
