// Helpers shared by the payload tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/lzss.h"

namespace kv::lzss_test {

// "03 41 42" -> {0x03, 0x41, 0x42}; spaces are ignored.
inline std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : hex) {
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10
          : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

// Decodes 18 literals of value, which leaves ring positions 4078 to 4095
// (those a decode does not reset) holding value. With 0 this is the state at
// the start of a run, whatever earlier decodes of the process did.
inline void FillRingTail(std::uint8_t value) {
  std::vector<std::uint8_t> stream;
  for (std::size_t n = 0; n < LZSS_RING_SIZE - LZSS_RING_START; ++n) {
    if (n % 8 == 0) stream.push_back(0xFF);
    stream.push_back(value);
  }
  std::uint8_t out[LZSS_RING_SIZE - LZSS_RING_START];
  LzssDecode(stream.data(), static_cast<std::uint32_t>(stream.size()), out, sizeof out);
}

// The whole output of a stream, decoded into an area of exactly capacity bytes.
inline std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& stream, std::uint32_t capacity,
                                        bool* overflowed = nullptr) {
  std::vector<std::uint8_t> out(capacity);
  std::int32_t n = LzssDecode(stream.data(), static_cast<std::uint32_t>(stream.size()), out.data(),
                              capacity, overflowed);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace kv::lzss_test
