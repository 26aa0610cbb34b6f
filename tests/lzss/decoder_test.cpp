// The launcher's decoder: stream layout, the ring, and the bounds the
// container reader adds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/lzss/lzss_test_support.h"
#include "tools/lzss/lzss_encoder.h"
#include "update/lzss.h"

namespace kv {
namespace {

using lzss_test::Bytes;
using lzss_test::Decode;
using lzss_test::FillRingTail;

struct StreamCase {
  const char* shows;
  const char* stream;
  std::vector<std::uint8_t> output;
};

std::vector<std::uint8_t> Repeat(std::uint8_t value, std::size_t count) {
  return std::vector<std::uint8_t>(count, value);
}

// Each row is the first decode of a run: every ring position is zero.
const StreamCase kFirstDecodeCases[] = {
    {"an empty stream", "", {}},
    {"a flag byte alone", "03", {}},
    {"flag bits from bit 0; a reference reading what it writes; stop when a reference is due",
     "03 41 42 EE F2", Bytes("41 42 41 42 41 42 41")},
    {"a reference cut after its first byte adds nothing", "01 41 EE", Bytes("41")},
    {"eight literals; the tenth byte is the next flag byte", "FF 31 32 33 34 35 36 37 38 01 39",
     Bytes("31 32 33 34 35 36 37 38 39")},
    {"position 0, count 18 (low nibble 15), over positions never written", "00 00 0F", Repeat(0, 18)},
    {"P = R - 1 repeats the byte just written", "01 78 EE F7", Repeat(0x78, 11)},
    {"P = R, count 3 (low nibble 0): each position read before it is written", "00 EE F0", Repeat(0, 3)},
    {"position 4095 wraps to 0 and 1", "00 FF F0", Repeat(0, 3)},
};

TEST(LzssDecode, FirstDecodeOfARun) {
  for (const StreamCase& c : kFirstDecodeCases) {
    SCOPED_TRACE(c.shows);
    FillRingTail(0);
    std::vector<std::uint8_t> stream = Bytes(c.stream);
    bool overflowed = true;
    std::vector<std::uint8_t> out = Decode(stream, 64, &overflowed);
    EXPECT_EQ(out, c.output);
    EXPECT_FALSE(overflowed);
  }
}

TEST(LzssDecode, WritePositionWrapsAfterEighteenBytes) {
  // Twenty literals 01..14: the 19th and 20th land at ring positions 0 and 1.
  // Then position 0 with count 3 reads 0, 1 and 2, where position 2 is the
  // byte this reference wrote first; then position 4095 reads 4095, 0 and 1.
  std::vector<std::uint8_t> stream = Bytes("FF 01 02 03 04 05 06 07 08 FF 09 0A 0B 0C 0D 0E 0F 10"
                                           "0F 11 12 13 14 00 00 FF F0");
  std::vector<std::uint8_t> expected;
  for (int b = 1; b <= 0x14; ++b) expected.push_back(static_cast<std::uint8_t>(b));
  for (int b : {0x13, 0x14, 0x13, 0x12, 0x13, 0x14}) expected.push_back(static_cast<std::uint8_t>(b));
  FillRingTail(0);
  EXPECT_EQ(Decode(stream, 64), expected);
}

TEST(LzssDecode, EachDecodeZeroesPositionsUpTo4077AndKeepsTheRest) {
  // An earlier decode of 20 literals 41..54 left 41..52 at positions 4078 to
  // 4095 and 53 54 at positions 0 and 1.
  struct Case {
    const char* shows;
    const char* stream;
    std::vector<std::uint8_t> output;
  } cases[] = {
      {"positions 4078 to 4080 keep the earlier decode's bytes", "00 EE F0", Bytes("41 42 43")},
      {"position 4095 is kept, 0 and 1 are zeroed", "00 FF F0", Bytes("52 00 00")},
      {"positions 0 to 17 are zeroed", "00 00 0F", Repeat(0, 18)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shows);
    std::vector<std::uint8_t> earlier = Bytes("FF 41 42 43 44 45 46 47 48 FF 49 4A 4B 4C 4D 4E 4F 50 0F 51 52 53 54");
    ASSERT_EQ(Decode(earlier, 64).size(), 20u);
    EXPECT_EQ(Decode(Bytes(c.stream), 64), c.output);
  }
}

TEST(LzssDecode, StopsAtCapacityWithoutWritingPastIt) {
  // "03 41 42 EE F2" decodes to seven bytes: two literals and a reference of five.
  struct Case {
    std::uint32_t capacity;
    std::size_t written;
    bool overflowed;
  } cases[] = {
      {8, 7, false},  // room to spare
      {7, 7, false},  // filled to the last byte: not an overflow
      {6, 6, true},   // stops inside the reference
      {2, 2, true},   // stops where the reference begins
      {1, 1, true},   // stops at the second literal
      {0, 0, true},
  };
  const std::vector<std::uint8_t> stream = Bytes("03 41 42 EE F2");
  const std::vector<std::uint8_t> full = Bytes("41 42 41 42 41 42 41");
  for (const Case& c : cases) {
    SCOPED_TRACE("capacity " + std::to_string(c.capacity));
    FillRingTail(0);
    std::vector<std::uint8_t> area(16, 0xCC);
    bool overflowed = !c.overflowed;
    std::int32_t n = LzssDecode(stream.data(), static_cast<std::uint32_t>(stream.size()), area.data(),
                                c.capacity, &overflowed);
    EXPECT_EQ(n, static_cast<std::int32_t>(c.written));
    EXPECT_EQ(overflowed, c.overflowed);
    for (std::size_t i = 0; i < area.size(); ++i) {
      EXPECT_EQ(area[i], i < c.written ? full[i] : 0xCC) << "byte " << i;
    }
  }
}

struct ContainerCase {
  const char* shows;
  const char* container;
  std::uint32_t area;
  PayloadStatus status;
  std::uint32_t decoded;
};

const ContainerCase kContainerCases[] = {
    {"empty resource", "", 16, PayloadStatus::kNoMarker, 0},
    {"wrong marker", "C7 05 00 00 00 03 41 42 EE F2", 16, PayloadStatus::kNoMarker, 0},
    {"marker alone", "C6", 16, PayloadStatus::kTruncated, 0},
    {"header cut short", "C6 00 00 00", 16, PayloadStatus::kTruncated, 0},
    {"empty stream", "C6 00 00 00 00", 16, PayloadStatus::kOk, 0},
    {"whole stream", "C6 05 00 00 00 03 41 42 EE F2", 16, PayloadStatus::kOk, 7},
    {"output fills the area exactly", "C6 05 00 00 00 03 41 42 EE F2", 7, PayloadStatus::kOk, 7},
    {"output one byte over the area", "C6 05 00 00 00 03 41 42 EE F2", 6, PayloadStatus::kTooLarge, 0},
    {"L one byte past the resource", "C6 06 00 00 00 03 41 42 EE F2", 16, PayloadStatus::kTruncated, 0},
    {"L taken from all four bytes, little-endian", "C6 05 00 00 01 03 41 42 EE F2", 16,
     PayloadStatus::kTruncated, 0},
    {"L shorter than the resource: the stream ends at L", "C6 03 00 00 00 03 41 42 EE F2", 16,
     PayloadStatus::kOk, 2},
};

TEST(DecodePayload, ChecksMarkerLengthAndArea) {
  for (const ContainerCase& c : kContainerCases) {
    SCOPED_TRACE(c.shows);
    FillRingTail(0);
    std::vector<std::uint8_t> container = Bytes(c.container);
    std::vector<std::uint8_t> area(c.area);
    std::uint32_t decoded = 12345;
    EXPECT_EQ(DecodePayload(container.data(), static_cast<std::uint32_t>(container.size()), area.data(),
                            c.area, &decoded),
              c.status);
    EXPECT_EQ(decoded, c.decoded);
  }
}

TEST(DecodePayload, ProgramOfExactlyTheAreaSizeFitsAndOneByteMoreDoesNot) {
  std::vector<std::uint8_t> program(PAYLOAD_BUFFER_SIZE + 1);
  std::uint32_t x = 12345;
  for (auto& b : program) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>((x >> 16) % 7);  // compressible, not trivial
  }
  std::vector<std::uint8_t> area(PAYLOAD_BUFFER_SIZE);

  std::vector<std::uint8_t> fits = lzss::EncodePayload(program.data(), PAYLOAD_BUFFER_SIZE);
  std::uint32_t decoded = 0;
  ASSERT_EQ(DecodePayload(fits.data(), static_cast<std::uint32_t>(fits.size()), area.data(),
                          PAYLOAD_BUFFER_SIZE, &decoded),
            PayloadStatus::kOk);
  EXPECT_EQ(decoded, PAYLOAD_BUFFER_SIZE);
  EXPECT_TRUE(std::equal(area.begin(), area.end(), program.begin()));

  std::vector<std::uint8_t> over = lzss::EncodePayload(program.data(), program.size());
  EXPECT_EQ(DecodePayload(over.data(), static_cast<std::uint32_t>(over.size()), area.data(),
                          PAYLOAD_BUFFER_SIZE, &decoded),
            PayloadStatus::kTooLarge);
  EXPECT_EQ(decoded, 0u);
}

}  // namespace
}  // namespace kv
