// The host-side encoder that makes the payload container, and a reader that
// looks a stream over without decoding it.
//
// The encoder models the decoder's ring exactly: 4096 positions, 0 to 4077
// zero before the first item, the first output byte at 4078. A reference may
// read the zero-filled positions and may overlap the bytes it produces; it
// never reads 4078 to 4095 before this decode wrote them, so the output does
// not depend on what an earlier decode left there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/lzss.h"

namespace kv::lzss {

enum class Parse {
  kOptimal,  // the shortest stream the format allows (shortest path over the input)
  kGreedy,   // the longest match at every step; kept for comparison
};

// The largest input the encoder takes (its positions are 32-bit).
inline constexpr std::size_t kMaxEncoderInput = std::size_t{1} << 30;

// For every input position, the longest match a reference can give there
// (0 when it is shorter than LZSS_MIN_COPY, at most LZSS_MAX_COPY) and the ring
// position that gives it. Any shorter count from the same position matches too.
struct MatchTable {
  std::vector<std::uint8_t> length;
  std::vector<std::uint16_t> position;
};
MatchTable FindMatches(const std::uint8_t* data, std::size_t size);

// The LZSS stream for data, without the container header. Deterministic.
// Throws std::length_error for inputs above kMaxEncoderInput.
std::vector<std::uint8_t> EncodeStream(const std::uint8_t* data, std::size_t size,
                                       Parse parse = Parse::kOptimal);

// The whole container: PAYLOAD_MARKER, the stream length (4 bytes,
// little-endian), the stream.
std::vector<std::uint8_t> EncodePayload(const std::uint8_t* data, std::size_t size,
                                        Parse parse = Parse::kOptimal);

// What a stream holds, found by walking its items without decoding them.
struct StreamReport {
  std::uint64_t decodedSize = 0;  // bytes the decoder writes for it
  std::uint64_t literals = 0;
  std::uint64_t references = 0;
  // False when the stream ends inside a reference (its second byte missing)
  // or with a flag byte that no item follows: no encoder of ours writes that.
  bool endsCleanly = true;
  // True when a reference reads a ring position from 4078 to 4095 before this
  // decode has written it: the output then depends on an earlier decode.
  bool readsStaleRing = false;
};
StreamReport InspectStream(const std::uint8_t* stream, std::size_t length);

}  // namespace kv::lzss
