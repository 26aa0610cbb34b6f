#include "update/payload_digest.h"

#include <cstring>

namespace kv {

bool ReadPayloadDigest(const std::uint8_t* record, std::uint32_t recordSize, PayloadDigest* digest) {
  if (record == nullptr || recordSize != PAYLOAD_DIGEST_SIZE) return false;
  digest->size = static_cast<std::uint32_t>(record[0]) | (static_cast<std::uint32_t>(record[1]) << 8) |
                 (static_cast<std::uint32_t>(record[2]) << 16) | (static_cast<std::uint32_t>(record[3]) << 24);
  std::memcpy(digest->sha256.data(), record + 4, digest->sha256.size());
  return true;
}

void WritePayloadDigest(const std::uint8_t* program, std::uint32_t size,
                        std::uint8_t (&record)[PAYLOAD_DIGEST_SIZE]) {
  for (int i = 0; i < 4; ++i) record[i] = static_cast<std::uint8_t>(size >> (8 * i));
  Sha256Digest sha = ComputeSha256(program, size);
  std::memcpy(record + 4, sha.data(), sha.size());
}

bool MatchesPayloadDigest(const PayloadDigest& digest, const std::uint8_t* program, std::uint32_t size) {
  return size == digest.size && ComputeSha256(program, size) == digest.sha256;
}

}  // namespace kv
