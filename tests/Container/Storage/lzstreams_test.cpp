#include <gtest/gtest.h>

#include <zlib.h>

#include "Container/Storage/Errors.h"
#include "Container/Storage/LZStreams.h"
#include "Container/Storage/MemFile.h"
#include "TestStreams.h"

namespace {

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, int windowBits, int memoryLevel,
                              const std::vector<uint32_t>& pieces = {4097}) {
  RecordingOut target;
  auto lz = LZ_OutStream::New(target, -1, windowBits, memoryLevel);
  size_t at = 0;
  for (size_t i = 0; at < data.size(); ++i) {
    const uint32_t piece =
        static_cast<uint32_t>(std::min<size_t>(pieces[i % pieces.size()], data.size() - at));
    lz->PutData(data.data() + at, piece);
    at += piece;
  }
  lz->Finish();
  return target.bytes;
}

std::vector<uint8_t> Decompress(const std::vector<uint8_t>& packed, int windowBits,
                                uint32_t piece = 1000) {
  VectorIn source(packed);
  auto lz = LZ_InStream::New(source, windowBits);
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(piece);
  for (;;) {
    const uint32_t got = lz->GetData(buffer.data(), piece);
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    if (got < piece)
      break;
  }
  return out;
}

int RaisedCode(const std::vector<uint8_t>& packed, int windowBits) {
  try {
    Decompress(packed, windowBits);
  } catch (const FilterException& e) {
    return e.Code();
  }
  return 0;
}

std::vector<uint8_t> Compressible(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<uint8_t>("exchange container "[i % 19] + (i / 4096) % 3);
  return bytes;
}

TEST(LZStreams, RoundTripAtBothWindowSizes) {
  const std::vector<std::vector<uint8_t>> inputs = {Pattern(1 << 20), Compressible(1 << 20),
                                                    Pattern(1), Compressible(1023)};
  const std::vector<std::pair<int, int>> parameters = {{10, 3}, {15, 8}};
  for (const auto& [windowBits, memoryLevel] : parameters) {
    for (const auto& input : inputs) {
      SCOPED_TRACE(testing::Message() << windowBits << " " << input.size());
      const auto packed = Compress(input, windowBits, memoryLevel, {1, 1023, 1025, 4097});
      EXPECT_EQ(packed[0], windowBits == 10 ? 0x28 : 0x78);
      EXPECT_EQ(Decompress(packed, windowBits, 777), input);
    }
  }
  EXPECT_LT(Compress(Compressible(1 << 20), 15, 8).size(), 100000u);
}

TEST(LZStreams, AnEmptyStreamIsStillComplete) {
  RecordingOut target;
  { auto lz = LZ_OutStream::New(target, -1, 15, 8); }
  EXPECT_EQ(target.bytes, (std::vector<uint8_t>{0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_EQ(Compress({}, 10, 3),
            (std::vector<uint8_t>{0x28, 0x91, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_TRUE(Decompress(target.bytes, 15).empty());
}

TEST(LZStreams, ReadingPastTheEndAnswersNothing) {
  auto packed = Compress(Compressible(5000), 15, 8);
  packed.push_back(0x42);  // whatever follows the compressed stream is not read
  VectorIn source(packed);
  auto lz = LZ_InStream::New(source, 15);
  std::vector<uint8_t> buffer(6000);
  EXPECT_EQ(lz->GetData(buffer.data(), 6000), 5000u);
  EXPECT_EQ(lz->GetData(buffer.data(), 6000), 0u);
  EXPECT_EQ(lz->GetData(buffer.data(), 1), 0u);
}

TEST(LZStreams, DamagedStreamsRaise) {
  const auto packed = Compress(Pattern(20000), 15, 8);

  auto corrupted = packed;
  corrupted[0] = 0x79;  // header check fails
  EXPECT_EQ(RaisedCode(corrupted, 15), 44006);
  corrupted = packed;
  corrupted[packed.size() - 2] ^= 0xFF;  // checksum
  EXPECT_EQ(RaisedCode(corrupted, 15), 44006);

  // A stream cut short must not pass for a complete one.
  const std::vector<uint8_t> truncated(packed.begin(), packed.begin() + packed.size() / 2);
  EXPECT_EQ(RaisedCode(truncated, 15), 44006);
  const std::vector<uint8_t> noTrailer(packed.begin(), packed.end() - 4);
  EXPECT_EQ(RaisedCode(noTrailer, 15), 44006);
  EXPECT_EQ(RaisedCode({}, 15), 44006);

  // A window too small for the stream.
  EXPECT_EQ(RaisedCode(packed, 10), 44006);
}

TEST(LZStreams, PresetDictionaryIsRefused) {
  z_stream zs{};
  ASSERT_EQ(deflateInit(&zs, Z_DEFAULT_COMPRESSION), Z_OK);
  const char dictionary[] = "dictionary";
  ASSERT_EQ(deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(dictionary), sizeof dictionary), Z_OK);
  uint8_t input[] = "dictionary dictionary";
  std::vector<uint8_t> packed(256);
  zs.next_in = input;
  zs.avail_in = sizeof input;
  zs.next_out = packed.data();
  zs.avail_out = static_cast<uInt>(packed.size());
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  packed.resize(zs.total_out);
  deflateEnd(&zs);
  EXPECT_EQ(RaisedCode(packed, 15), 44005);
}

TEST(LZStreams, CompressionLevelCanChangeMidStream) {
  const auto input = Compressible(50000);
  RecordingOut target;
  auto lz = LZ_OutStream::New(target, -1, 15, 8);
  EXPECT_EQ(lz->CompressionLevel(), -1);
  lz->PutData(input.data(), 20000);
  lz->SetCompressionLevel(1);
  EXPECT_EQ(lz->CompressionLevel(), 1);
  lz->PutData(input.data() + 20000, 30000);
  lz->Finish();
  EXPECT_EQ(Decompress(target.bytes, 15), input);
}

TEST(LZStreams, FinishingRaisesAndTheDestructorOnlyWarns) {
  RecordedWarnings warnings;
  FailingOut target;
  {
    auto lz = LZ_OutStream::New(target, -1, 15, 8);
    EXPECT_THROW(lz->Finish(), FilterException);
    // The end of the stream was lost: the stream cannot go on or be finished again.
    EXPECT_THROW(lz->Finish(), FilterException);
    EXPECT_THROW(lz->PutData("x", 1), FilterException);
  }
  EXPECT_TRUE(warnings.Codes().empty());
  { auto lz = LZ_OutStream::New(target, -1, 15, 8); }
  EXPECT_EQ(warnings.Codes(), std::vector<int>{33012});

  target.failures = false;
  {
    auto lz = LZ_OutStream::New(target, -1, 15, 8);
    lz->Finish();
    EXPECT_THROW(lz->PutData("x", 1), FilterException);  // finished
  }
  EXPECT_EQ(warnings.Codes().size(), 1u);
}

}  // namespace
