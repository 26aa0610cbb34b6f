#include "tools/lzss/lzss_encoder.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace kv::lzss {

namespace {

// The encoder works on the decoder's history laid out as one sequence: the
// 4078 zero bytes of ring positions 0 to 4077, then the input. Sequence index
// u sits at ring position u mod 4096, so a reference to ring position P made
// while writing index u copies from index u - d, where d = (u - P) mod 4096
// and 0 stands for 4096. Index 0 is the oldest byte a reference may read:
// before it lie positions 4078 to 4095, which hold whatever an earlier decode
// left. A match may run into the bytes it produces (d smaller than the count):
// comparing the sequence with itself models that exactly.
constexpr std::size_t kZeroPrefix = LZSS_RING_START;
constexpr std::uint32_t kWindow = LZSS_RING_SIZE;
constexpr std::uint32_t kLiteralBits = 9;     // a flag bit and the byte
constexpr std::uint32_t kReferenceBits = 17;  // a flag bit and two bytes
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Numbers the distinct (class, byte) pairs of one level in order of first
// appearance. Open addressing; the table holds at least twice the entries.
class PairNumbering {
 public:
  explicit PairNumbering(std::size_t entries) {
    std::size_t capacity = 1024;
    while (capacity < 2 * entries) capacity *= 2;
    keys_.resize(capacity);
    values_.resize(capacity);
    mask_ = capacity - 1;
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
  }

  void Clear() {
    std::fill(keys_.begin(), keys_.end(), kEmpty);
    count_ = 0;
  }

  // The number of the pair, new ones numbered from 0 upwards.
  std::uint32_t Number(std::uint32_t cls, std::uint8_t byte) {
    std::uint64_t key = (static_cast<std::uint64_t>(cls) << 8) | byte;
    std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    for (;;) {
      if (keys_[slot] == key) return values_[slot];
      if (keys_[slot] == kEmpty) {
        keys_[slot] = key;
        values_[slot] = count_;
        return count_++;
      }
      slot = (slot + 1) & mask_;
    }
  }

  std::uint32_t count() const { return count_; }

 private:
  static constexpr std::uint64_t kEmpty = std::numeric_limits<std::uint64_t>::max();
  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> values_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::uint32_t count_ = 0;
};

struct Item {
  std::uint16_t position;  // ring position of a reference
  std::uint8_t count;      // 0 for a literal, else LZSS_MIN_COPY to LZSS_MAX_COPY
};

std::vector<Item> ParseOptimal(const MatchTable& matches, std::size_t size) {
  // Shortest path from each position to the end, in bits. The flag bytes make
  // these costs exact: a stream of C bits takes ceil(C / 8) bytes, so the
  // fewest bits give the fewest bytes.
  std::vector<std::uint64_t> cost(size + 1, 0);
  std::vector<std::uint8_t> step(size, 0);
  for (std::size_t i = size; i-- > 0;) {
    std::uint64_t best = cost[i + 1] + kLiteralBits;
    std::uint8_t choice = 0;
    // Ties go to the literal, then to the longer count: any fixed rule keeps
    // the output deterministic, and all tied paths have the same size.
    for (std::size_t k = matches.length[i]; k >= LZSS_MIN_COPY; --k) {
      std::uint64_t c = cost[i + k] + kReferenceBits;
      if (c < best) {
        best = c;
        choice = static_cast<std::uint8_t>(k);
      }
    }
    cost[i] = best;
    step[i] = choice;
  }
  std::vector<Item> items;
  for (std::size_t i = 0; i < size;) {
    if (step[i] == 0) {
      items.push_back({0, 0});
      ++i;
    } else {
      items.push_back({matches.position[i], step[i]});
      i += step[i];
    }
  }
  return items;
}

std::vector<Item> ParseGreedy(const MatchTable& matches, std::size_t size) {
  std::vector<Item> items;
  for (std::size_t i = 0; i < size;) {
    std::uint8_t k = matches.length[i];
    if (k >= LZSS_MIN_COPY) {
      items.push_back({matches.position[i], k});
      i += k;
    } else {
      items.push_back({0, 0});
      ++i;
    }
  }
  return items;
}

std::vector<std::uint8_t> WriteStream(const std::uint8_t* data, const std::vector<Item>& items) {
  std::vector<std::uint8_t> out;
  out.reserve(items.size() * 2 + items.size() / 8 + 1);
  std::size_t flagAt = 0;
  std::size_t in = 0;
  for (std::size_t n = 0; n < items.size(); ++n) {
    unsigned bit = n % 8;
    if (bit == 0) {
      flagAt = out.size();
      out.push_back(0);  // flag bits of items that never come stay 0
    }
    const Item& item = items[n];
    if (item.count == 0) {
      out[flagAt] = static_cast<std::uint8_t>(out[flagAt] | (1u << bit));
      out.push_back(data[in++]);
    } else {
      out.push_back(static_cast<std::uint8_t>(item.position & 0xFF));
      out.push_back(static_cast<std::uint8_t>(((item.position >> 4) & 0xF0) |
                                              (item.count - LZSS_MIN_COPY)));
      in += item.count;
    }
  }
  return out;
}

}  // namespace

MatchTable FindMatches(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxEncoderInput) throw std::length_error("input too large for the encoder");
  MatchTable table;
  table.length.assign(size, 0);
  table.position.assign(size, 0);
  if (size < LZSS_MIN_COPY) return table;

  const std::size_t total = kZeroPrefix + size;
  auto at = [&](std::size_t u) -> std::uint8_t { return u < kZeroPrefix ? 0 : data[u - kZeroPrefix]; };

  // cls[u] numbers the k-byte string at sequence index u, level by level:
  // equal strings, equal numbers. The level k number comes from the level
  // k - 1 number and the k-th byte. For each input index still matching at
  // level k - 1, the latest earlier index with the same k-byte string is the
  // nearest candidate; if it lies within the window the match reaches k.
  // The latest one is always the best: whatever is in reach at k is in reach
  // at every smaller count.
  //
  // Below index 4060 every string of up to 18 bytes is all zeros, the same as
  // the one at 4060, which is later and so always the better candidate: the
  // work starts there.
  const std::size_t start = kZeroPrefix - LZSS_MAX_COPY;
  std::vector<std::uint32_t> cls(total);
  for (std::size_t u = start; u < total; ++u) cls[u] = at(u);
  std::uint32_t classes = 256;
  PairNumbering numbering(total - start);
  std::vector<std::uint32_t> latest;
  std::vector<std::uint8_t> alive(size, 1);  // still matching at the previous level
  std::size_t aliveCount = size;

  for (std::size_t k = 2; k <= LZSS_MAX_COPY && aliveCount > 0; ++k) {
    const std::size_t last = total - k;  // last index with k bytes after it
    numbering.Clear();
    if (k >= LZSS_MIN_COPY) latest.assign(classes, kNone);
    aliveCount = 0;
    for (std::size_t u = start; u <= last; ++u) {
      std::uint32_t c = numbering.Number(cls[u], at(u + k - 1));
      cls[u] = c;
      if (k < LZSS_MIN_COPY) continue;
      if (c >= latest.size()) latest.resize(std::max<std::size_t>(c + 1, latest.size() * 2), kNone);
      if (u >= kZeroPrefix) {
        std::size_t i = u - kZeroPrefix;
        if (alive[i]) {
          std::uint32_t from = latest[c];
          if (from != kNone && u - from <= kWindow) {
            table.length[i] = static_cast<std::uint8_t>(k);
            table.position[i] = static_cast<std::uint16_t>(from % LZSS_RING_SIZE);
            ++aliveCount;
          } else {
            alive[i] = 0;
          }
        }
      }
      latest[c] = static_cast<std::uint32_t>(u);
    }
    if (k >= LZSS_MIN_COPY) {
      // The last k - 1 input positions have fewer than k bytes left: their matches end here.
      for (std::size_t i = size >= k - 1 ? size - (k - 1) : 0; i < size; ++i) alive[i] = 0;
    } else {
      aliveCount = size;
    }
    classes = numbering.count();
  }
  return table;
}

std::vector<std::uint8_t> EncodeStream(const std::uint8_t* data, std::size_t size, Parse parse) {
  MatchTable matches = FindMatches(data, size);
  std::vector<Item> items =
      parse == Parse::kOptimal ? ParseOptimal(matches, size) : ParseGreedy(matches, size);
  return WriteStream(data, items);
}

std::vector<std::uint8_t> EncodePayload(const std::uint8_t* data, std::size_t size, Parse parse) {
  std::vector<std::uint8_t> stream = EncodeStream(data, size, parse);
  if (stream.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("stream too long for the container's length field");
  }
  std::uint32_t length = static_cast<std::uint32_t>(stream.size());
  std::vector<std::uint8_t> container;
  container.reserve(PAYLOAD_HEADER_SIZE + stream.size());
  container.push_back(PAYLOAD_MARKER);
  for (int b = 0; b < 4; ++b) container.push_back(static_cast<std::uint8_t>(length >> (8 * b)));
  container.insert(container.end(), stream.begin(), stream.end());
  return container;
}

StreamReport InspectStream(const std::uint8_t* stream, std::size_t length) {
  StreamReport report;
  std::size_t i = 0;
  while (i < length) {
    unsigned flags = stream[i++];
    bool anyItem = false;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (i >= length) break;
      anyItem = true;
      if (flags & (1u << bit)) {
        ++i;
        ++report.literals;
        ++report.decodedSize;
        continue;
      }
      if (i + 1 >= length) {
        // The second byte of the reference is missing: it adds nothing.
        report.endsCleanly = false;
        i = length;
        break;
      }
      std::size_t p = stream[i] | ((stream[i + 1] & 0xF0u) << 4);
      std::size_t k = (stream[i + 1] & 0x0Fu) + LZSS_MIN_COPY;
      i += 2;
      ++report.references;
      for (std::size_t j = 0; j < k; ++j) {
        // Positions 4078 to 4095 hold this decode's bytes once output index
        // (position - 4078) has been written.
        std::size_t q = (p + j) % LZSS_RING_SIZE;
        if (q >= LZSS_RING_START && report.decodedSize + j <= q - LZSS_RING_START) {
          report.readsStaleRing = true;
        }
      }
      report.decodedSize += k;
    }
    if (!anyItem) report.endsCleanly = false;
  }
  return report;
}

}  // namespace kv::lzss
