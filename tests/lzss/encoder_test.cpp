// The payload encoder: byte layout of what it writes, round trips through the
// launcher's decoder, and the size of its parse against an exhaustive search.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
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
using Data = std::vector<std::uint8_t>;

Data Repeat(std::uint8_t value, std::size_t count) { return Data(count, value); }

Data Random(std::size_t count, unsigned seed, unsigned alphabet = 256) {
  std::mt19937 rng(seed);
  Data out(count);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() % alphabet);
  return out;
}

Data Join(Data a, const Data& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::size_t AllLiteralSize(std::size_t n) { return n + (n + 7) / 8; }

TEST(LzssEncoder, WritesTheStreamLayout) {
  struct Case {
    const char* shows;
    Data input;
    const char* stream;
  } cases[] = {
      {"nothing for an empty input", {}, ""},
      {"a literal: flag bit 0 set", Bytes("41"), "01 41"},
      {"a reference to 4078 reading what it writes (position low byte, high nibble, count - 3)",
       Bytes("41 42 41 42 41 42 41"), "03 41 42 EE F2"},
      {"P = R - 1 repeats a byte", Repeat(0x78, 11), "01 78 EE F7"},
      {"a flag byte ahead of every eight items", Bytes("31 32 33 34 35 36 37 38 39"),
       "FF 31 32 33 34 35 36 37 38 01 39"},
      {"zeros from the last zero-filled position on, count 18", Repeat(0, 18), "00 ED FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shows);
    EXPECT_EQ(lzss::EncodeStream(c.input.data(), c.input.size()), Bytes(c.stream));
  }
  Data container = lzss::EncodePayload(cases[2].input.data(), cases[2].input.size());
  EXPECT_EQ(container, Bytes("C6 05 00 00 00 03 41 42 EE F2"));
}

// Every stream the encoder writes, optimal or greedy, decodes back byte for
// byte even when ring positions 4078 to 4095 hold bytes of an earlier decode.
void ExpectRoundTrip(const Data& input, const Data& stream) {
  lzss::StreamReport report = lzss::InspectStream(stream.data(), stream.size());
  EXPECT_EQ(report.decodedSize, input.size());
  EXPECT_TRUE(report.endsCleanly);
  EXPECT_FALSE(report.readsStaleRing);
  FillRingTail(0xA5);
  bool overflowed = false;
  Data out = Decode(stream, static_cast<std::uint32_t>(input.size()), &overflowed);
  EXPECT_FALSE(overflowed);
  EXPECT_TRUE(out == input) << "the stream does not decode back to the input";
}

TEST(LzssEncoder, RoundTripsThroughTheDecoder) {
  const Data text = [] {
    std::string s;
    for (int i = 0; i < 60; ++i) s += "The update program brings the six installed files up to date. " + std::to_string(i * i);
    return Data(s.begin(), s.end());
  }();
  const Data block4096 = Random(4096, 7);
  const Data block4097 = Random(4097, 8);
  const Data ascending = [] {
    Data d;
    for (int r = 0; r < 40; ++r)
      for (int b = 0; b < 256; ++b) d.push_back(static_cast<std::uint8_t>(b));
    return d;
  }();

  struct Case {
    const char* shows;
    Data input;
  } cases[] = {
      {"one byte", Bytes("41")},
      {"two bytes, too short for a reference", Bytes("00 00")},
      {"eighteen zeros", Repeat(0, 18)},
      {"zeros for longer than the ring", Repeat(0, 10000)},
      {"one byte repeated", Repeat(0x78, 5000)},
      {"zeros once 4095 bytes have gone by: position 4077 is still zero", Join(Repeat(1, 4095), Repeat(0, 20))},
      {"zeros once every zero-filled position is overwritten", Join(Repeat(1, 4096), Repeat(0, 20))},
      {"random bytes", Random(3000, 1)},
      {"few distinct bytes", Random(20000, 2, 3)},
      {"text", text},
      {"a block again 4096 bytes later, the farthest a reference reaches", Join(block4096, block4096)},
      {"a block again 4097 bytes later, out of reach", Join(block4097, block4097)},
      {"every byte value ascending, over and over", ascending},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shows);
    Data optimal = lzss::EncodeStream(c.input.data(), c.input.size(), lzss::Parse::kOptimal);
    Data greedy = lzss::EncodeStream(c.input.data(), c.input.size(), lzss::Parse::kGreedy);
    {
      SCOPED_TRACE("optimal");
      ExpectRoundTrip(c.input, optimal);
    }
    {
      SCOPED_TRACE("greedy");
      ExpectRoundTrip(c.input, greedy);
    }
    EXPECT_LE(optimal.size(), greedy.size());
    EXPECT_LE(optimal.size(), AllLiteralSize(c.input.size()));
    EXPECT_EQ(lzss::EncodeStream(c.input.data(), c.input.size()), optimal) << "not deterministic";
  }
}

TEST(LzssEncoder, ReachesExactly4096BytesBack) {
  const Data near = Join(Random(4096, 7), Random(4096, 7));
  const Data far = Join(Random(4097, 8), Random(4097, 8));
  // The second copy of the near block is made of references: 18 bytes for
  // 17 bits. The far one is out of the window and stays literal.
  EXPECT_LT(lzss::EncodeStream(near.data(), near.size()).size(), AllLiteralSize(4096) + 4096 / 18 * 3);
  EXPECT_GT(lzss::EncodeStream(far.data(), far.size()).size(), far.size());
}

// The fewest stream bytes for the input, by asking every ring position at
// every input position how far it matches. Ring position q holds, at output
// step m, the latest byte written there, or its starting content: 0 for q up
// to 4077, and for 4078 to 4095 something no stream may rely on.
std::size_t ExhaustiveOptimalSize(const Data& in) {
  const long n = static_cast<long>(in.size());
  auto held = [&](long q, long m) -> int {
    long first = (q - static_cast<long>(LZSS_RING_START) + 4096) % 4096;  // first output index written at q
    if (first > m - 1) return q < static_cast<long>(LZSS_RING_START) ? 0 : -1;
    return in[first + (m - 1 - first) / 4096 * 4096];
  };
  std::vector<long> bits(n + 1, 0);
  std::vector<int> longest(n, 0);
  for (long i = 0; i < n; ++i) {
    for (long p = 0; p < 4096; ++p) {
      int k = 0;
      while (k < 18 && i + k < n && held((p + k) % 4096, i + k) == in[i + k]) ++k;
      if (k > longest[i]) longest[i] = k;
    }
  }
  for (long i = n - 1; i >= 0; --i) {
    bits[i] = bits[i + 1] + 9;
    for (int k = 3; k <= longest[i]; ++k) bits[i] = std::min(bits[i], bits[i + k] + 17);
  }
  return static_cast<std::size_t>((bits[0] + 7) / 8);
}

TEST(LzssEncoder, OptimalParseMatchesExhaustiveSearch) {
  struct Case {
    std::string shows;
    Data input;
  };
  std::vector<Case> cases = {
      {"zeros and a run of ones", Join(Random(300, 13, 2), Join(Repeat(1, 40), Random(300, 14, 4)))},
      {"past the ring's size, four symbols", Random(4600, 15, 4)},
  };
  // Short inputs over two or three symbols: many overlapping matches, where
  // taking less than the longest match at some step often pays.
  for (unsigned seed = 0; seed < 40; ++seed) {
    for (unsigned alphabet : {2u, 3u}) {
      cases.push_back({"seed " + std::to_string(seed) + ", " + std::to_string(alphabet) + " symbols",
                       Random(200, seed, alphabet)});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shows);
    EXPECT_EQ(lzss::EncodeStream(c.input.data(), c.input.size()).size(), ExhaustiveOptimalSize(c.input));
  }
}

TEST(LzssEncoder, OptimalBeatsGreedyWhereTheLongestMatchMisleads) {
  // At "abc..." the longest match is "abc" (3); a literal 'a' and then
  // "bcd...s" (18) is one item shorter.
  std::string s = "abcZbcdefghijklmnopqrstabcdefghijklmnopqrs";
  Data input(s.begin(), s.end());
  Data optimal = lzss::EncodeStream(input.data(), input.size(), lzss::Parse::kOptimal);
  Data greedy = lzss::EncodeStream(input.data(), input.size(), lzss::Parse::kGreedy);
  EXPECT_LT(optimal.size(), greedy.size());
  ExpectRoundTrip(input, optimal);
}

TEST(InspectStream, ReportsSizeCutsAndStaleReads) {
  struct Case {
    const char* shows;
    const char* stream;
    std::uint64_t decoded;
    bool clean;
    bool stale;
  } cases[] = {
      {"empty", "", 0, true, false},
      {"ends where a reference is due", "03 41 42 EE F2", 7, true, false},
      {"eight items, then nothing", "FF 31 32 33 34 35 36 37 38", 8, true, false},
      {"a reference cut after its first byte", "01 41 EE", 1, false, false},
      {"a flag byte alone", "03", 0, false, false},
      {"a flag byte with no item after eight", "FF 31 32 33 34 35 36 37 38 00", 8, false, false},
      {"zero-filled positions may be read any time", "00 00 0F", 18, true, false},
      {"P = R - 1 reads only what it wrote", "01 78 EE F7", 11, true, false},
      {"P = R reads 4078 before writing it", "00 EE F0", 3, true, true},
      {"4095 read before it is written", "00 FF F0", 3, true, true},
      {"4095 read after it is written", "FF 01 02 03 04 05 06 07 08 FF 09 0A 0B 0C 0D 0E 0F 10 03 11 12 FF F0",
       21, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shows);
    Data stream = Bytes(c.stream);
    lzss::StreamReport report = lzss::InspectStream(stream.data(), stream.size());
    EXPECT_EQ(report.decodedSize, c.decoded);
    EXPECT_EQ(report.endsCleanly, c.clean);
    EXPECT_EQ(report.readsStaleRing, c.stale);
    FillRingTail(0);
    EXPECT_EQ(Decode(stream, 64).size(), c.decoded) << "the decoder disagrees";
  }
}

}  // namespace
}  // namespace kv
