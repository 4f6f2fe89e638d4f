#include "platform/record_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/temp_folder.h"

namespace vidmora {
namespace {

using Mode = RecordStream::Mode;

std::string le16(uint16_t v) {
  return {char(v & 0xFF), char(v >> 8)};
}
std::string le32(uint32_t v) {
  return le16(v & 0xFFFF) + le16(v >> 16);
}

TEST(RecordStream, OpenFailures) {
  test::TempFolder dir;
  EXPECT_EQ(RecordStream::open(dir / "missing", Mode::Read), nullptr);
  EXPECT_EQ(RecordStream::open(dir / "no/such/folder/f", Mode::Write), nullptr);
  EXPECT_EQ(RecordStream::open(dir.path(), Mode::Read), nullptr);  // a folder is no file
}

TEST(RecordStream, LargeAndSmallWritesRoundTrip) {
  test::TempFolder dir;
  std::vector<unsigned char> block(25000);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 7);
  // A tiny buffer forces every path: flushes, direct writes, refills across field borders.
  for (std::size_t bufferSize : {std::size_t{16}, RecordStream::DefaultBufferSize}) {
    SCOPED_TRACE(bufferSize);
    const std::string path = dir / ("f" + std::to_string(bufferSize));
    {
      auto out = RecordStream::open(path, Mode::Write, bufferSize);
      ASSERT_NE(out, nullptr);
      EXPECT_TRUE(out->writeSignature("SIG1"));
      EXPECT_EQ(out->write(block.data(), block.size()), block.size());
      for (int i = 0; i < 50; ++i) {
        out->writeNumber(static_cast<int16_t>(-i));
        out->writeNumber(static_cast<uint32_t>(i * 100000));
        out->writeText16("text " + std::to_string(i));
      }
      out->writeNumber(29.976f);
      out->writeNumber(uint32_t{3000});  // a 32-bit counted text
      out->write(std::string(3000, 'q').data(), 3000);
      EXPECT_TRUE(out->close());
    }
    EXPECT_EQ(test::readFile(path).size(), 28752u);
    auto in = RecordStream::open(path, Mode::Read, bufferSize);
    ASSERT_NE(in, nullptr);
    EXPECT_TRUE(in->checkSignature("SIG1"));
    std::vector<unsigned char> back(25000);
    EXPECT_EQ(in->read(back.data(), back.size()), 25000);
    EXPECT_EQ(back, block);
    for (int i = 0; i < 50; ++i) {
      int16_t a = 1;
      uint32_t b = 1;
      std::string t;
      EXPECT_EQ(in->readNumber(a), 2);
      EXPECT_EQ(in->readNumber(b), 4);
      EXPECT_TRUE(in->readText16(t, 4095));
      EXPECT_EQ(a, -i);
      EXPECT_EQ(b, static_cast<uint32_t>(i * 100000));
      EXPECT_EQ(t, "text " + std::to_string(i));
    }
    float rate = 0;
    in->readNumber(rate);
    EXPECT_EQ(rate, 29.976f);
    std::string q;
    EXPECT_TRUE(in->readText32(q, 5000));
    EXPECT_EQ(q.size(), 3000u);
    // At the end: numbers stay unchanged, reads deliver nothing.
    int32_t untouched = 77;
    EXPECT_EQ(in->readNumber(untouched), 0);
    EXPECT_EQ(untouched, 77);
    char c;
    EXPECT_EQ(in->read(&c, 1), 0);
  }
}

TEST(RecordStream, NumbersAreLittleEndian) {
  test::TempFolder dir;
  {
    auto out = RecordStream::open(dir / "n", Mode::Write);
    out->writeNumber(uint16_t{0x0102});
    out->writeNumber(int32_t{-2});
    out->writeNumber(1.0f);
  }
  EXPECT_EQ(test::readFile(dir / "n"), std::string("\x02\x01\xFE\xFF\xFF\xFF\x00\x00\x80\x3F", 10));
}

TEST(RecordStream, OverlongTextsKeepLaterFieldsInStep) {
  struct Case {
    const char* name;
    std::string bytes;  // one counted text, then the marker 0xBEEF
    int kind;           // 16: readText16(max 260), 32: readText32(limit 5)
    bool result;
    std::string text;
  };
  const std::string s260(260, 'a'), s261(261, 'b');
  const Case cases[] = {
      {"fits", le16(260) + s260, 16, true, s260},
      {"one_too_long", le16(261) + s261, 16, false, ""},
      {"negative", le16(0x8001) + std::string(0x8001, 'n'), 16, false, ""},
      {"minus_one", le16(0xFFFF) + std::string(0xFFFF, 'm'), 16, false, ""},
      {"empty", le16(0), 16, true, ""},
      {"cut32", le32(8) + "abcdefgh", 32, true, "abcd"},
      {"exact32", le32(4) + "abcd", 32, true, "abcd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = c.bytes + le16(0xBEEF);
    for (std::size_t bufferSize : {std::size_t{16}, RecordStream::DefaultBufferSize}) {
      auto in = RecordStream::fromMemory(data.data(), data.size(), bufferSize);
      std::string text = "stale";
      bool result = false;
      if (c.kind == 16) result = in->readText16(text, 260);
      if (c.kind == 32) result = in->readText32(text, 5);
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(text, c.text);
      uint16_t marker = 0;
      EXPECT_EQ(in->readNumber(marker), 2);
      EXPECT_EQ(marker, 0xBEEF);
    }
  }
}

TEST(RecordStream, TruncatedAndHostileInput) {
  // A text that claims more than the file holds comes back empty, reported.
  const std::string shortText = le16(10) + "abc";
  auto in = RecordStream::fromMemory(shortText.data(), shortText.size());
  std::string text;
  EXPECT_FALSE(in->readText16(text, 4095));
  EXPECT_EQ(text, "");
  // A 4-gigabyte claim reads the little there is, allocates nothing large, and ends.
  const std::string huge = le32(0xFFFFFFFF) + "xyz";
  in = RecordStream::fromMemory(huge.data(), huge.size());
  EXPECT_FALSE(in->readText32(text, 2001));
  EXPECT_EQ(text, "");
  // A signature check on a file shorter than the signature.
  in = RecordStream::fromMemory("Vid", 3);
  EXPECT_FALSE(in->checkSignature("VidmoraSettings1"));
  in = RecordStream::fromMemory("vidmoraSettings1", 16);
  EXPECT_FALSE(in->checkSignature("VidmoraSettings1"));
  in = RecordStream::fromMemory(nullptr, 0);
  uint8_t b = 9;
  EXPECT_EQ(in->readNumber(b), 0);
  EXPECT_EQ(b, 9);
}

TEST(RecordStream, SeekAndSkip) {
  const std::string data = le32(7) + le16(3) + le32(3) + "one" + le32(3) + "two";
  for (std::size_t bufferSize : {std::size_t{16}, RecordStream::DefaultBufferSize}) {
    auto in = RecordStream::fromMemory(data.data(), data.size(), bufferSize);
    EXPECT_TRUE(in->seek(6));
    std::string t;
    EXPECT_TRUE(in->readText32(t, 257));
    EXPECT_EQ(t, "one");
    EXPECT_EQ(in->skip(1000), 7u);  // what was left, and no more
    EXPECT_TRUE(in->seek(0));
    uint32_t first = 0;
    EXPECT_EQ(in->readNumber(first), 4);
    EXPECT_EQ(first, 7u);
  }
}

}  // namespace
}  // namespace vidmora
