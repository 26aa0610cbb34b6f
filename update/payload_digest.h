// The integrity record the build puts beside the payload container: the size
// of the decoded update program and its SHA-256. Only a decoded program that
// matches both is written and run.
#pragma once

#include <cstdint>

#include "update/sha256.h"

namespace kv {

inline constexpr std::uint32_t PAYLOAD_DIGEST_SIZE = 4 + 32;

struct PayloadDigest {
  std::uint32_t size = 0;
  Sha256Digest sha256{};
};

// False unless the record is exactly PAYLOAD_DIGEST_SIZE bytes.
bool ReadPayloadDigest(const std::uint8_t* record, std::uint32_t recordSize, PayloadDigest* digest);

// The record's bytes for a program (what the build writes).
void WritePayloadDigest(const std::uint8_t* program, std::uint32_t size,
                        std::uint8_t (&record)[PAYLOAD_DIGEST_SIZE]);

bool MatchesPayloadDigest(const PayloadDigest& digest, const std::uint8_t* program, std::uint32_t size);

}  // namespace kv
