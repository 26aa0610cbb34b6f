// The payload container and its LZSS stream.
//
// Container: a marker byte (PAYLOAD_MARKER), the stream length L as four bytes
// little-endian, then L bytes of stream. Stream: groups of one flag byte (bit 0
// first, 1 for a literal) and up to eight items; a literal is one byte, a
// reference two (a 12-bit absolute ring position and a count of 3 to 18).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

inline constexpr std::uint8_t PAYLOAD_MARKER = 0xC6;
inline constexpr std::uint32_t PAYLOAD_HEADER_SIZE = 5;
inline constexpr std::uint32_t PAYLOAD_BUFFER_SIZE = 400000;

inline constexpr std::size_t LZSS_RING_SIZE = 4096;
inline constexpr std::size_t LZSS_RING_START = 0xFEE;  // 4078: where the first output byte goes
inline constexpr std::size_t LZSS_MIN_COPY = 3;
inline constexpr std::size_t LZSS_MAX_COPY = 18;

// Decodes the stream of the given length into destination and returns the
// number of bytes written. It never writes more than capacity bytes: when the
// stream holds more, it stops there and sets *overflowed (if given). Ring
// positions 0 to 4077 are zeroed at the start of every decode; 4078 to 4095
// keep what an earlier decode left. Not reentrant: the ring is one static area.
std::int32_t LzssDecode(const std::uint8_t* source, std::uint32_t length, std::uint8_t* destination,
                        std::uint32_t capacity, bool* overflowed = nullptr);

enum class PayloadStatus {
  kOk,
  kNoMarker,        // empty, or the first byte is not PAYLOAD_MARKER
  kTruncated,       // shorter than the header, or L runs past the resource
  kTooLarge,        // decodes to more than the area holds
};

// Reads the container of the given size (marker, L, stream) and decodes its
// stream into area. Only kOk leaves a usable program in area, of *decodedSize bytes.
PayloadStatus DecodePayload(const std::uint8_t* container, std::uint32_t containerSize,
                            std::uint8_t* area, std::uint32_t areaSize, std::uint32_t* decodedSize);

// The stream length L of a container whose header is present (size >= 5).
std::uint32_t PayloadStreamLength(const std::uint8_t* container);

}  // namespace kv
