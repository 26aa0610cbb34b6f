// SHA-256, for checking that the decoded update program is the one the build embedded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const std::uint8_t* data, std::size_t size);
  Sha256Digest Finish();

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t totalBytes_ = 0;
};

Sha256Digest ComputeSha256(const std::uint8_t* data, std::size_t size);

}  // namespace kv
