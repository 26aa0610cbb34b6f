#include "install/installation_check.h"

#include <cstdio>
#include <cstring>

#include "platform/handles.h"
#include "res/resource.h"
#include "res/texts.h"

namespace kv {

namespace {

// Lead bytes of a double-byte character in code page 932.
bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace

int CompareFileTimes(const FileTime& a, const FileTime& b) {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  return 0;
}

void CopyTextCut(char* dest, std::size_t destSize, const char* src) {
  if (destSize == 0) return;
  std::size_t i = 0;
  while (src[i] != '\0') {
    std::size_t width = (IsLeadByte(static_cast<unsigned char>(src[i])) && src[i + 1] != '\0') ? 2 : 1;
    if (i + width > destSize - 1) break;
    i += width;
  }
  std::memcpy(dest, src, i);
  dest[i] = '\0';
}

void FormatStatusText(char* out, std::size_t outSize, const char* installDir,
                      const char* installedVersion) {
  // Formed whole first (a directory of 259 bytes fits easily), then cut.
  char whole[INSTALL_DIR_SIZE + INSTALLED_VERSION_SIZE + sizeof(text::kStatusFormat) +
             sizeof(TARGET_VERSION)];
  std::snprintf(whole, sizeof whole, text::kStatusFormat, installDir, installedVersion,
                TARGET_VERSION);
  CopyTextCut(out, outSize, whole);
}

bool InstallationCheck::ProbeFileExists(const char* path) {
  ScopedFile file(platform_);
  return file.Create(path, win::kGenericRead, win::kShareNone, win::kOpenExisting);
}

bool InstallationCheck::ProbeFileFresh(const char* path) {
  ScopedFile file(platform_);
  if (!file.Create(path, win::kGenericRead, win::kShareRead, win::kOpenExisting)) return false;
  FileTime lastWrite;
  if (!platform_.FileLastWriteTime(file.get(), &lastWrite)) return false;
  return CompareFileTimes(FRESHNESS_THRESHOLD, lastWrite) <= 0;
}

bool InstallationCheck::ProbeInstalledFiles(Probe probe) {
  for (const char* entry : INSTALLED_FILES) {
    char path[WORKING_TEXT_SIZE];
    int length = std::snprintf(path, sizeof path, entry, m_szInstallDir);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return false;
    if (!(this->*probe)(path)) return false;
  }
  return true;
}

bool InstallationCheck::ReadRegistryString(const char* subkey, const char* valueName,
                                           char* field, std::size_t fieldSize) {
  std::memset(field, 0, fieldSize);
  ScopedRegKey key(platform_);
  if (key.Open(subkey, win::kKeyRead) != win::kErrorSuccess) return false;
  std::uint32_t type = 0;
  std::uint32_t byteCount = static_cast<std::uint32_t>(fieldSize);
  long result = platform_.RegistryQuery(key.get(), valueName, &type,
                                        reinterpret_cast<std::uint8_t*>(field), &byteCount);
  // A value that fills the field without a terminating zero is too long.
  if (result != win::kErrorSuccess || std::memchr(field, '\0', fieldSize) == nullptr) {
    std::memset(field, 0, fieldSize);
    return false;
  }
  return true;
}

bool InstallationCheck::LocateInstallation() {
  if (!ReadRegistryString(APP_PATHS_KEY, "", m_szInstallDir, sizeof m_szInstallDir)) return false;
  // Cut after the last backslash byte, keeping the backslash. The scan is over
  // bytes, from the end.
  for (std::size_t n = std::strlen(m_szInstallDir); n > 0; --n) {
    if (m_szInstallDir[n - 1] == '\\') {
      m_szInstallDir[n] = '\0';
      break;
    }
  }
  return true;
}

void InstallationCheck::ReadInstalledVersion() {
  ReadRegistryString(VERSION_KEY, VERSION_VALUE, m_szInstalledVersion,
                     sizeof m_szInstalledVersion);
}

bool InstallationCheck::CheckInstallation() {
  if (!LocateInstallation()) {
    ShowMessage(text::kNotInstalled, text::kUpdateCaption, win::kMbOk | win::kMbIconExclamation);
    CancelDialog();
    return false;
  }
  if (!ProbeInstalledFiles(&InstallationCheck::ProbeFileExists)) {
    ShowMessage(text::kInstalledIncorrectly, text::kUpdateCaption,
                win::kMbOk | win::kMbIconExclamation);
    CancelDialog();
    return false;
  }
  ReadInstalledVersion();

  char status[WORKING_TEXT_SIZE];
  FormatStatusText(status, sizeof status, m_szInstallDir, m_szInstalledVersion);
  ShowInstallInfo(status);

  // Versions are compared for identity, never ordered.
  if (std::strcmp(m_szInstalledVersion, TARGET_VERSION) != 0) return true;
  if (!ProbeInstalledFiles(&InstallationCheck::ProbeFileFresh)) return true;

  ShowMessage(text::kAlreadyCurrent, text::kUpdateCaption, win::kMbOk | win::kMbIconInformation);
  CancelDialog();
  return false;
}

}  // namespace kv
