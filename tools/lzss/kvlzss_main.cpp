// kvlzss: makes, unpacks and checks the launcher's payload container.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/lzss/lzss_encoder.h"
#include "update/lzss.h"
#include "update/payload_digest.h"

namespace {

enum ExitCode {
  kExitOk = 0,
  kExitUsage = 1,
  kExitIo = 2,
  kExitBadData = 3,
  kExitInternal = 4,
};

constexpr char kHelp[] =
    "Usage:\n"
    "  kvlzss encode IN OUT [--max-decoded N] [--digest FILE]\n"
    "      Compresses the update program IN into the payload container OUT\n"
    "      (marker byte 0xC6, stream length in 4 bytes little-endian, LZSS stream),\n"
    "      with the smallest stream the format allows. Fails when IN is larger than\n"
    "      N bytes. --digest also writes FILE, the integrity record the launcher\n"
    "      checks: the program's size (4 bytes, little-endian) and its SHA-256.\n"
    "  kvlzss decode IN OUT [--max-decoded N]\n"
    "      Checks the container IN like 'check' and writes the program it holds to OUT.\n"
    "  kvlzss check IN [--max-decoded N] [--digest FILE]\n"
    "      Checks the container IN: the marker byte, the stream length against the\n"
    "      file size, a stream that ends on a whole item, reads no ring position the\n"
    "      decode has not written or zeroed, and decodes within N bytes; with\n"
    "      --digest, that the program matches the record FILE. Prints the sizes.\n"
    "  kvlzss --help\n"
    "\n"
    "N defaults to 400000, the size of the launcher's payload area.\n"
    "Outputs are written whole or not at all.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  usage error: unknown command, missing or extra argument, bad option value\n"
    "  2  input/output error: a file cannot be read or written, or an input is empty\n"
    "  3  unusable data: the program is larger than N bytes, or the container is\n"
    "     damaged (no marker, a length that disagrees with the file, a cut stream,\n"
    "     a stream that decodes to more than N bytes, a program that does not\n"
    "     match its record)\n"
    "  4  internal error: the container made does not decode back to the program\n";

struct Failure {
  int code;
};

[[noreturn]] void Fail(int code, const std::string& message) {
  std::fprintf(stderr, "kvlzss: %s\n", message.c_str());
  throw Failure{code};
}

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "kvlzss: %s\nTry 'kvlzss --help'.\n", message.c_str());
  throw Failure{kExitUsage};
}

struct Options {
  std::vector<std::string> files;
  std::uint32_t maxDecoded = kv::PAYLOAD_BUFFER_SIZE;
  std::string digest;
};

Options ParseOptions(int argc, char** argv, bool allowDigest) {
  Options options;
  for (int a = 2; a < argc; ++a) {
    std::string arg = argv[a];
    if (arg == "--max-decoded") {
      if (a + 1 >= argc) UsageError("--max-decoded needs a number of bytes");
      std::string value = argv[++a];
      char* end = nullptr;
      errno = 0;
      unsigned long long n = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || value[0] == '-' || *end != '\0' || errno != 0 || n == 0 ||
          n > kv::lzss::kMaxEncoderInput) {
        UsageError("--max-decoded takes a number of bytes from 1 to " +
                   std::to_string(kv::lzss::kMaxEncoderInput) + ", not '" + value + "'");
      }
      options.maxDecoded = static_cast<std::uint32_t>(n);
    } else if (arg == "--digest" && allowDigest) {
      if (a + 1 >= argc) UsageError("--digest needs a file name");
      options.digest = argv[++a];
    } else if (arg.size() > 1 && arg[0] == '-') {
      UsageError("unknown option '" + arg + "'");
    } else {
      options.files.push_back(arg);
    }
  }
  return options;
}

std::string ErrorText(int error) { return std::strerror(error); }

// Reads a whole file of at most limit bytes. *size gets the file's size even
// when it is over the limit (then the bytes are not read).
std::vector<std::uint8_t> ReadFile(const std::string& path, std::uint64_t limit, std::uint64_t* size) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) Fail(kExitIo, "cannot read " + path + ": it is a directory");
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail(kExitIo, "cannot read " + path + ": " + ErrorText(errno));
  std::vector<std::uint8_t> data;
  std::uint8_t chunk[65536];
  bool over = false;
  for (;;) {
    std::size_t got = std::fread(chunk, 1, sizeof chunk, f);
    if (got == 0) break;
    if (data.size() + got > limit) {
      over = true;
      break;
    }
    data.insert(data.end(), chunk, chunk + got);
  }
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) Fail(kExitIo, "cannot read " + path);
  *size = data.size();
  if (over) {
    std::uintmax_t full = std::filesystem::file_size(path, ec);
    *size = ec ? limit + 1 : static_cast<std::uint64_t>(full);
    data.clear();
  }
  return data;
}

// Writes the file whole: into a temporary neighbour first, then renamed over it.
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::string partial = path + ".partial";
  std::FILE* f = std::fopen(partial.c_str(), "wb");
  if (f == nullptr) Fail(kExitIo, "cannot write " + path + ": " + ErrorText(errno));
  bool ok = (size == 0 || std::fwrite(data, 1, size, f) == size);
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(partial.c_str(), path.c_str()) != 0) {
    int error = errno;
    std::remove(partial.c_str());
    Fail(kExitIo, "cannot write " + path + ": " + ErrorText(error));
  }
}

int Encode(const Options& options) {
  if (options.files.size() != 2) UsageError("encode takes an input and an output file");
  const std::string& in = options.files[0];
  const std::string& out = options.files[1];
  std::uint64_t size = 0;
  std::vector<std::uint8_t> program = ReadFile(in, options.maxDecoded, &size);
  if (size > options.maxDecoded) {
    Fail(kExitBadData, in + ": update program is " + std::to_string(size) + " bytes, more than the " +
                           std::to_string(options.maxDecoded) + " bytes the launcher's payload area holds");
  }
  if (program.empty()) Fail(kExitIo, in + ": update program is empty (0 bytes)");

  std::vector<std::uint8_t> container = kv::lzss::EncodePayload(program.data(), program.size());

  // The launcher's own decoder must give the program back, byte for byte.
  std::vector<std::uint8_t> back(options.maxDecoded);
  std::uint32_t decoded = 0;
  if (kv::DecodePayload(container.data(), static_cast<std::uint32_t>(container.size()), back.data(),
                        options.maxDecoded, &decoded) != kv::PayloadStatus::kOk ||
      decoded != program.size() || std::memcmp(back.data(), program.data(), decoded) != 0) {
    Fail(kExitInternal, in + ": the container made does not decode back to the program");
  }

  WriteFile(out, container.data(), container.size());
  if (!options.digest.empty()) {
    std::uint8_t record[kv::PAYLOAD_DIGEST_SIZE];
    kv::WritePayloadDigest(program.data(), static_cast<std::uint32_t>(program.size()), record);
    WriteFile(options.digest, record, sizeof record);
  }
  std::printf("%s: %zu bytes -> %s: %zu bytes (%.1f%%)\n", in.c_str(), program.size(), out.c_str(),
              container.size(), 100.0 * static_cast<double>(container.size()) / static_cast<double>(program.size()));
  return kExitOk;
}

// Checks the container and returns the program it holds.
std::vector<std::uint8_t> OpenContainer(const std::string& path, const Options& options) {
  // A stream that decodes to at most N bytes is at most N + N/8 + 2 bytes long.
  std::uint64_t limit = kv::PAYLOAD_HEADER_SIZE + std::uint64_t{options.maxDecoded} * 9 / 8 + 2;
  std::uint64_t size = 0;
  std::vector<std::uint8_t> container = ReadFile(path, limit, &size);
  if (size > limit) {
    Fail(kExitBadData, path + ": " + std::to_string(size) + " bytes is too long for a container that decodes within " +
                           std::to_string(options.maxDecoded) + " bytes");
  }
  if (container.empty()) Fail(kExitIo, path + ": container file is empty (0 bytes)");
  char marker[8];
  std::snprintf(marker, sizeof marker, "0x%02X", container[0]);
  if (container[0] != kv::PAYLOAD_MARKER) {
    Fail(kExitBadData, path + ": not a payload container: the first byte is " + marker + ", not 0xC6");
  }
  if (container.size() < kv::PAYLOAD_HEADER_SIZE) {
    Fail(kExitBadData, path + ": damaged container: " + std::to_string(container.size()) +
                           " bytes, shorter than the 5-byte header");
  }
  std::uint32_t length = kv::PayloadStreamLength(container.data());
  std::uint64_t present = container.size() - kv::PAYLOAD_HEADER_SIZE;
  if (length != present) {
    Fail(kExitBadData, path + ": damaged container: the stream length field says " + std::to_string(length) +
                           " bytes, but " + std::to_string(present) + " follow the header");
  }
  kv::lzss::StreamReport report = kv::lzss::InspectStream(container.data() + kv::PAYLOAD_HEADER_SIZE, length);
  if (!report.endsCleanly) Fail(kExitBadData, path + ": damaged container: the stream ends inside an item");
  if (report.readsStaleRing) {
    Fail(kExitBadData, path + ": damaged container: a reference reads ring positions 4078 to 4095 "
                              "before the decode has written them");
  }
  if (report.decodedSize > options.maxDecoded) {
    Fail(kExitBadData, path + ": the container decodes to " + std::to_string(report.decodedSize) +
                           " bytes, more than the " + std::to_string(options.maxDecoded) +
                           " bytes the launcher's payload area holds");
  }
  std::vector<std::uint8_t> program(options.maxDecoded);
  std::uint32_t decoded = 0;
  kv::PayloadStatus status = kv::DecodePayload(container.data(), static_cast<std::uint32_t>(container.size()),
                                               program.data(), options.maxDecoded, &decoded);
  if (status != kv::PayloadStatus::kOk || decoded != report.decodedSize) {
    Fail(kExitInternal, path + ": the decoder and the stream reader disagree about this container");
  }
  program.resize(decoded);
  if (!options.digest.empty()) {
    std::uint64_t recordSize = 0;
    std::vector<std::uint8_t> record = ReadFile(options.digest, kv::PAYLOAD_DIGEST_SIZE, &recordSize);
    kv::PayloadDigest digest;
    if (!kv::ReadPayloadDigest(record.data(), static_cast<std::uint32_t>(record.size()), &digest)) {
      Fail(kExitBadData, options.digest + ": not an integrity record: " + std::to_string(recordSize) +
                             " bytes, not " + std::to_string(kv::PAYLOAD_DIGEST_SIZE));
    }
    if (!kv::MatchesPayloadDigest(digest, program.data(), decoded)) {
      Fail(kExitBadData, path + ": the program does not match its record " + options.digest);
    }
  }
  std::printf("%s: container %zu bytes, stream %u bytes, decodes to %u bytes (%llu literals, %llu references)\n",
              path.c_str(), container.size(), length, decoded, static_cast<unsigned long long>(report.literals),
              static_cast<unsigned long long>(report.references));
  return program;
}

int Check(const Options& options) {
  if (options.files.size() != 1) UsageError("check takes one container file");
  OpenContainer(options.files[0], options);
  return kExitOk;
}

int Decode(const Options& options) {
  if (options.files.size() != 2) UsageError("decode takes an input and an output file");
  std::vector<std::uint8_t> program = OpenContainer(options.files[0], options);
  WriteFile(options.files[1], program.data(), program.size());
  return kExitOk;
}

int Run(int argc, char** argv) {
  if (argc < 2) UsageError("no command given");
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (command == "encode") return Encode(ParseOptions(argc, argv, true));
  if (command == "decode") return Decode(ParseOptions(argc, argv, false));
  if (command == "check") return Check(ParseOptions(argc, argv, true));
  UsageError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& failure) {
    return failure.code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvlzss: %s\n", e.what());
    return kExitInternal;
  }
}
