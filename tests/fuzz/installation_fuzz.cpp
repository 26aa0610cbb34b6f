// Fuzzes what the installation check does with registry text: the directory
// cut, the path forming of the probes and the status text, with values of any
// bytes and lengths and with or without a terminating zero.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kv;
  using namespace kv::test;
  if (size < 2) return 0;
  // First byte: how the input splits into the App Paths value and the version.
  std::size_t split = data[0] % (size - 1) + 1;
  FakePlatform fake;
  FakeValue path;
  path.data.assign(data + 1, data + split);
  FakeValue version;
  version.data.assign(data + split, data + size);
  fake.registry[APP_PATHS_KEY][""] = path;
  fake.registry[VERSION_KEY][VERSION_VALUE] = version;

  TestLauncher launcher(fake);
  // Every probed path exists, so the check goes as far as the bytes allow.
  bool located = launcher.LocateInstallation();
  if (located) {
    for (const char* entry : INSTALLED_FILES) {
      char formed[WORKING_TEXT_SIZE];
      int n = std::snprintf(formed, sizeof formed, entry, launcher.m_szInstallDir);
      if (n >= 0 && static_cast<std::size_t>(n) < sizeof formed) fake.files[formed] = FakeFile{};
    }
  }
  fake.log.clear();
  launcher.CheckInstallation();

  // What the check relies on: both fields end inside themselves, and the
  // status text fits the working text.
  if (std::memchr(launcher.m_szInstallDir, 0, sizeof launcher.m_szInstallDir) == nullptr) __builtin_trap();
  if (std::memchr(launcher.m_szInstalledVersion, 0, sizeof launcher.m_szInstalledVersion) == nullptr) __builtin_trap();
  if (launcher.installInfo.size() >= WORKING_TEXT_SIZE) __builtin_trap();
  // A directory keeps its trailing backslash; nothing after it is kept.
  std::size_t length = std::strlen(launcher.m_szInstallDir);
  const char* last = std::strrchr(launcher.m_szInstallDir, '\\');
  if (located && last != nullptr && last != launcher.m_szInstallDir + length - 1) __builtin_trap();
  if (fake.OpenCount() != 0) __builtin_trap();
  return 0;
}
