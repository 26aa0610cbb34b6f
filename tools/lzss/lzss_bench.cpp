// Benchmark of the payload coder:
//   - the launcher's decoder on the payload a Windows build embedded
//     (bytes_per_second: decoded bytes; the suffixes are binary, G = 2^30);
//   - the encoder, optimal and greedy, on a 400,000-byte input made of real
//     executables (the embedded program, the built launcher, then Windows DLLs
//     of the machine, cut at 400,000 bytes);
//   - the container sizes of both parses.
// The Windows build folder defaults to the one the native build was configured
// with (KV_WIN32_BUILD_DIR); KV_BENCH_BUILD_DIR overrides it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/lzss/lzss_encoder.h"
#include "update/lzss.h"

#ifndef KV_WIN32_BUILD_DIR
#define KV_WIN32_BUILD_DIR ""
#endif

namespace {

namespace fs = std::filesystem;
using Data = std::vector<std::uint8_t>;

Data ReadAll(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return Data(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Data g_container;      // the built payload container
Data g_program;        // what it decodes to
Data g_input400k;      // real executables, 400,000 bytes

void BM_DecodeBuiltPayload(benchmark::State& state) {
  Data area(kv::PAYLOAD_BUFFER_SIZE);
  std::uint32_t decoded = 0;
  for (auto _ : state) {
    kv::DecodePayload(g_container.data(), static_cast<std::uint32_t>(g_container.size()), area.data(),
                      kv::PAYLOAD_BUFFER_SIZE, &decoded);
    benchmark::DoNotOptimize(area.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(decoded) * state.iterations());
  state.counters["decoded"] = decoded;
}

void BM_Encode400k(benchmark::State& state, kv::lzss::Parse parse) {
  std::size_t size = 0;
  for (auto _ : state) {
    Data container = kv::lzss::EncodePayload(g_input400k.data(), g_input400k.size(), parse);
    size = container.size();
    benchmark::DoNotOptimize(container.data());
  }
  state.counters["container"] = static_cast<double>(size);
}

// The program, the launcher, then DLLs of the machine by name, cut at 400,000 bytes.
Data Input400k(const fs::path& build, std::vector<std::string>* used) {
  std::vector<fs::path> sources = {build / "KvWin101.exe"};
  std::vector<fs::path> dlls;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", ec)) {
    if (e.path().extension() == ".dll" && e.is_regular_file()) dlls.push_back(e.path());
  }
  std::sort(dlls.begin(), dlls.end());
  sources.insert(sources.end(), dlls.begin(), dlls.end());
  Data input = g_program;
  for (const fs::path& p : sources) {
    if (input.size() >= 400000) break;
    Data bytes = ReadAll(p);
    if (bytes.empty()) continue;
    input.insert(input.end(), bytes.begin(), bytes.end());
    used->push_back(p.string());
  }
  if (input.size() > 400000) input.resize(400000);
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* override = std::getenv("KV_BENCH_BUILD_DIR");
  fs::path build = override != nullptr ? override : KV_WIN32_BUILD_DIR;
  fs::path payloadDir = build / "payload" / "KvWin101";
  g_container = ReadAll(payloadDir / "payload.lzt");
  std::string programPath;
  {
    std::ifstream record(payloadDir / "update_program.txt");
    std::getline(record, programPath);
  }
  g_program = programPath.empty() ? Data() : ReadAll(programPath);
  if (g_container.empty() || g_program.empty()) {
    std::fprintf(stderr,
                 "no built payload under %s: build the Windows launcher first, or set KV_BENCH_BUILD_DIR "
                 "to its build folder\n",
                 payloadDir.string().c_str());
    return 1;
  }

  std::vector<std::string> used;
  g_input400k = Input400k(build, &used);
  if (g_input400k.size() < 400000) {
    std::fprintf(stderr, "found only %zu bytes of executables for the 400,000-byte input\n", g_input400k.size());
    return 1;
  }

  Data optimal = kv::lzss::EncodePayload(g_program.data(), g_program.size(), kv::lzss::Parse::kOptimal);
  Data greedy = kv::lzss::EncodePayload(g_program.data(), g_program.size(), kv::lzss::Parse::kGreedy);
  Data optimal400k = kv::lzss::EncodePayload(g_input400k.data(), g_input400k.size(), kv::lzss::Parse::kOptimal);
  Data greedy400k = kv::lzss::EncodePayload(g_input400k.data(), g_input400k.size(), kv::lzss::Parse::kGreedy);
  std::printf("built payload %s\n", (payloadDir / "payload.lzt").string().c_str());
  std::printf("  update program %s: %zu bytes\n", programPath.c_str(), g_program.size());
  std::printf("  container as built: %zu bytes%s\n", g_container.size(),
              g_container == optimal ? " (the optimal parse)" : " (NOT what the encoder makes now)");
  std::printf("  greedy longest-match parse: %zu bytes (optimal saves %zd bytes, %.2f%%)\n", greedy.size(),
              static_cast<std::ptrdiff_t>(greedy.size()) - static_cast<std::ptrdiff_t>(optimal.size()),
              100.0 * (static_cast<double>(greedy.size()) - static_cast<double>(optimal.size())) /
                  static_cast<double>(greedy.size()));
  std::printf("400,000-byte input: the program, then %zu files from %s on\n", used.size(),
              used.empty() ? "-" : used.front().c_str());
  std::printf("  optimal %zu bytes, greedy %zu bytes\n", optimal400k.size(), greedy400k.size());

  benchmark::RegisterBenchmark("DecodeBuiltPayload", BM_DecodeBuiltPayload)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("EncodeOptimal400k", BM_Encode400k, kv::lzss::Parse::kOptimal)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("EncodeGreedy400k", BM_Encode400k, kv::lzss::Parse::kGreedy)
      ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
