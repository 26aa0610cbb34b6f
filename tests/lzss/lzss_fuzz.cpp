// Fuzzes the payload decoder with output areas of every size, the container
// reader with any header, and the encoder's round trip.
//
// Input: two bytes of area size (little-endian, 0 to 65535), then the body,
// used as a stream, as a container, and as a program to encode. Each area is
// allocated to its exact size, so AddressSanitizer stops any write past it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/lzss/lzss_test_support.h"
#include "tools/lzss/lzss_encoder.h"
#include "update/lzss.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::unique_ptr<std::uint8_t[]> Area(std::uint32_t size) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kv;
  if (size < 2) return 0;
  const std::uint32_t capacity = data[0] | (static_cast<std::uint32_t>(data[1]) << 8);
  const std::uint8_t* body = data + 2;
  const std::uint32_t length = static_cast<std::uint32_t>(size - 2);

  // The body as a stream: the decoder writes min(size, capacity) bytes and
  // reports an overflow exactly when the stream holds more.
  const lzss::StreamReport report = lzss::InspectStream(body, length);
  auto first = Area(capacity);
  lzss_test::FillRingTail(0);
  bool overflowed = false;
  std::int32_t n = LzssDecode(body, length, first.get(), capacity, &overflowed);
  Require(n >= 0 && static_cast<std::uint64_t>(n) == std::min<std::uint64_t>(report.decodedSize, capacity));
  Require(overflowed == (report.decodedSize > capacity));

  // A stream that reads no stale ring position gives the same bytes whatever
  // an earlier decode left in the ring.
  if (!report.readsStaleRing) {
    auto second = Area(capacity);
    lzss_test::FillRingTail(0xFF);
    Require(LzssDecode(body, length, second.get(), capacity) == n);
    Require(std::memcmp(first.get(), second.get(), static_cast<std::size_t>(n)) == 0);
  }

  // The body as a container.
  {
    PayloadStatus expected = PayloadStatus::kOk;
    std::uint64_t expectedSize = 0;
    if (length == 0 || body[0] != PAYLOAD_MARKER) {
      expected = PayloadStatus::kNoMarker;
    } else if (length < PAYLOAD_HEADER_SIZE || PayloadStreamLength(body) > length - PAYLOAD_HEADER_SIZE) {
      expected = PayloadStatus::kTruncated;
    } else {
      expectedSize = lzss::InspectStream(body + PAYLOAD_HEADER_SIZE, PayloadStreamLength(body)).decodedSize;
      if (expectedSize > capacity) {
        expected = PayloadStatus::kTooLarge;
        expectedSize = 0;
      }
    }
    auto area = Area(capacity);
    std::uint32_t decoded = 1;
    Require(DecodePayload(body, length, area.get(), capacity, &decoded) == expected);
    Require(decoded == expectedSize);
  }

  // The body as a program: both parses decode back, the optimal one no longer.
  if (length <= 4096) {
    std::vector<std::uint8_t> optimal = lzss::EncodePayload(body, length, lzss::Parse::kOptimal);
    std::vector<std::uint8_t> greedy = lzss::EncodePayload(body, length, lzss::Parse::kGreedy);
    Require(optimal.size() <= greedy.size());
    for (const auto* container : {&optimal, &greedy}) {
      auto area = Area(length);
      std::uint32_t decoded = 0;
      lzss_test::FillRingTail(0x33);
      Require(DecodePayload(container->data(), static_cast<std::uint32_t>(container->size()), area.get(), length,
                            &decoded) == PayloadStatus::kOk);
      Require(decoded == length && std::memcmp(area.get(), body, length) == 0);
    }
  }
  return 0;
}
