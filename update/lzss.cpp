#include "update/lzss.h"

#include <cstring>

namespace kv {

namespace {

// The decoder's history; zero when the program starts.
std::uint8_t g_ring[LZSS_RING_SIZE];

}  // namespace

std::int32_t LzssDecode(const std::uint8_t* source, std::uint32_t length, std::uint8_t* destination,
                        std::uint32_t capacity, bool* overflowed) {
  std::memset(g_ring, 0, LZSS_RING_START);
  if (overflowed != nullptr) *overflowed = false;
  std::size_t r = LZSS_RING_START;
  unsigned flags = 0;
  std::uint32_t i = 0;
  std::uint32_t n = 0;

  auto put = [&](std::uint8_t x) -> bool {
    if (n >= capacity) {
      if (overflowed != nullptr) *overflowed = true;
      return false;
    }
    destination[n++] = x;
    g_ring[r] = x;
    r = (r + 1) % LZSS_RING_SIZE;
    return true;
  };

  for (;;) {
    flags >>= 1;
    if ((flags & 0x100) == 0) {
      if (i >= length) break;
      flags = source[i++] | 0xFF00u;
    }
    if (flags & 1) {
      if (i >= length) break;
      if (!put(source[i++])) break;
    } else {
      if (i >= length) break;
      unsigned b1 = source[i++];
      if (i >= length) break;
      unsigned b2 = source[i++];
      std::size_t p = b1 | ((b2 & 0xF0u) << 4);
      std::size_t k = (b2 & 0x0Fu) + LZSS_MIN_COPY;
      bool stopped = false;
      for (std::size_t j = 0; j < k; ++j) {
        // Read before write: a reference may copy bytes it has just produced.
        if (!put(g_ring[(p + j) % LZSS_RING_SIZE])) {
          stopped = true;
          break;
        }
      }
      if (stopped) break;
    }
  }
  return static_cast<std::int32_t>(n);
}

std::uint32_t PayloadStreamLength(const std::uint8_t* container) {
  // Unaligned, assembled byte by byte.
  return static_cast<std::uint32_t>(container[1]) | (static_cast<std::uint32_t>(container[2]) << 8) |
         (static_cast<std::uint32_t>(container[3]) << 16) |
         (static_cast<std::uint32_t>(container[4]) << 24);
}

PayloadStatus DecodePayload(const std::uint8_t* container, std::uint32_t containerSize,
                            std::uint8_t* area, std::uint32_t areaSize, std::uint32_t* decodedSize) {
  *decodedSize = 0;
  if (containerSize == 0 || container[0] != PAYLOAD_MARKER) return PayloadStatus::kNoMarker;
  if (containerSize < PAYLOAD_HEADER_SIZE) return PayloadStatus::kTruncated;
  std::uint32_t length = PayloadStreamLength(container);
  if (length > containerSize - PAYLOAD_HEADER_SIZE) return PayloadStatus::kTruncated;
  bool overflowed = false;
  std::int32_t n = LzssDecode(container + PAYLOAD_HEADER_SIZE, length, area, areaSize, &overflowed);
  if (overflowed) return PayloadStatus::kTooLarge;
  *decodedSize = static_cast<std::uint32_t>(n);
  return PayloadStatus::kOk;
}

}  // namespace kv
