// Round trips over real executables: the files the builds made (the build
// lists them, one a line, in the file named by KV_LZSS_BUILD_FILE_LIST) and
// Windows DLLs found on the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/lzss/lzss_test_support.h"
#include "tools/lzss/lzss_encoder.h"
#include "update/lzss.h"

#ifndef KV_LZSS_BUILD_FILE_LIST
#define KV_LZSS_BUILD_FILE_LIST ""
#endif

namespace kv {
namespace {

namespace fs = std::filesystem;
using Data = std::vector<std::uint8_t>;

constexpr std::uintmax_t kLargestFile = 600000;  // keeps the test to seconds
constexpr std::size_t kPerFolder = 3;

Data ReadAll(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return Data(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool IsExecutableFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size < 64 || size > kLargestFile) return false;
  char head[4] = {};
  std::ifstream f(path, std::ios::binary);
  f.read(head, sizeof head);
  bool pe = head[0] == 'M' && head[1] == 'Z';
  bool elf = head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
  return pe || elf;
}

// A few files from each folder, spread over its sizes.
std::vector<fs::path> PickFrom(const fs::path& folder) {
  std::vector<std::pair<std::uintmax_t, fs::path>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if ((ext == ".dll" || ext == ".exe") && IsExecutableFile(entry.path())) {
      found.emplace_back(fs::file_size(entry.path()), entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> picked;
  for (std::size_t i = 0; i < kPerFolder && i < found.size(); ++i) {
    picked.push_back(found[(found.size() - 1) * (i + 1) / kPerFolder].second);
  }
  std::sort(picked.begin(), picked.end());
  picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
  return picked;
}

std::vector<fs::path> RealExecutables() {
  std::vector<fs::path> files;
  std::ifstream build(KV_LZSS_BUILD_FILE_LIST);
  for (std::string path; std::getline(build, path);) {
    if (!path.empty() && IsExecutableFile(path)) files.emplace_back(path);
  }
  std::vector<fs::path> folders = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                                   "/usr/lib/x86_64-linux-gnu/wine/i386-windows",
                                   "/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/i686-w64-mingw32/lib",
                                   "/usr/x86_64-w64-mingw32/lib"};
  for (const char* gcc : {"/usr/lib/gcc/i686-w64-mingw32", "/usr/lib/gcc/x86_64-w64-mingw32"}) {
    std::error_code ec;
    for (const auto& version : fs::directory_iterator(gcc, ec)) folders.push_back(version.path());
  }
  std::sort(folders.begin() + 5, folders.end());
  for (const fs::path& folder : folders) {
    for (const fs::path& file : PickFrom(folder)) files.push_back(file);
  }
  return files;
}

TEST(LzssRealFiles, EncodeAndDecodeByteForByte) {
  std::vector<fs::path> files = RealExecutables();
  if (files.empty()) GTEST_SKIP() << "no executable files found on this machine";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    Data program = ReadAll(file);
    ASSERT_FALSE(program.empty());
    Data optimal = lzss::EncodePayload(program.data(), program.size(), lzss::Parse::kOptimal);
    Data greedy = lzss::EncodePayload(program.data(), program.size(), lzss::Parse::kGreedy);
    EXPECT_LE(optimal.size(), greedy.size());
    EXPECT_EQ(lzss::EncodePayload(program.data(), program.size()), optimal) << "not deterministic";

    // Decoded as the launcher does, after another decode left its bytes in the ring.
    lzss_test::FillRingTail(0x5A);
    Data area(program.size());
    std::uint32_t decoded = 0;
    ASSERT_EQ(DecodePayload(optimal.data(), static_cast<std::uint32_t>(optimal.size()), area.data(),
                            static_cast<std::uint32_t>(area.size()), &decoded),
              PayloadStatus::kOk);
    EXPECT_EQ(decoded, program.size());
    EXPECT_TRUE(area == program) << "decoded bytes differ";
    std::cout << file.string() << ": " << program.size() << " -> " << optimal.size() << " (greedy "
              << greedy.size() << ")\n";
  }
}

}  // namespace
}  // namespace kv
