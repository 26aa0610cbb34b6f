#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/sha256.h"

namespace kv {
namespace {

std::string Hex(const Sha256Digest& d) {
  std::string out;
  char buf[3];
  for (std::uint8_t b : d) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    out += buf;
  }
  return out;
}

// Published test vectors, including lengths around the padding boundary.
TEST(Sha256, MatchesKnownDigests) {
  struct Case {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    auto* data = reinterpret_cast<const std::uint8_t*>(c.input.data());
    EXPECT_EQ(Hex(ComputeSha256(data, c.input.size())), c.digest) << c.input.size();
    // The same digest when fed in uneven pieces.
    Sha256 pieces;
    for (std::size_t i = 0; i < c.input.size(); i += 7)
      pieces.Update(data + i, std::min<std::size_t>(7, c.input.size() - i));
    EXPECT_EQ(Hex(pieces.Finish()), c.digest) << c.input.size();
  }
}

}  // namespace
}  // namespace kv
