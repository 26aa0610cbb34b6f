// Finding the installed game, probing its six files, reading its version and
// deciding whether the version-up is offered. Plain C++: the operating system is
// reached only through the Platform interface, the dialog through three hooks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace kv {

inline constexpr char TARGET_VERSION[] = "1.01";

// 2000-06-06 15:00:00 UTC; a file last written at or after it counts as fresh.
inline constexpr FileTime FRESHNESS_THRESHOLD{0xE2CA1800u, 0x01BFCFC7u};

inline constexpr char APP_PATHS_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KvWin.exe";
inline constexpr char VERSION_KEY[] = "Software\\Tovrelund\\Kelvaro";
inline constexpr char VERSION_VALUE[] = "ExeVersion";

// The files of an installation, in the order every probe run walks them; each
// takes the installation directory (ending in a backslash) in place of its %s.
inline constexpr const char* INSTALLED_FILES[] = {
    "%sKvWin.exe",  "%sKvBc.exe",         "%sKvRace.exe",
    "%sKvVtr.exe",  "%sHelp\\body.html",  "%sHelp\\menu.html",
};
inline constexpr std::size_t INSTALLED_FILE_COUNT =
    sizeof(INSTALLED_FILES) / sizeof(INSTALLED_FILES[0]);

inline constexpr std::size_t INSTALL_DIR_SIZE = 260;
inline constexpr std::size_t INSTALLED_VERSION_SIZE = 40;
// One local text buffer holds each probed path and then the status text.
inline constexpr std::size_t WORKING_TEXT_SIZE = 256;

// Negative, zero or positive as a is earlier than, equal to or later than b.
int CompareFileTimes(const FileTime& a, const FileTime& b);

// Copies src into dest of the given size, cutting it where it does not fit
// without splitting a double-byte character of code page 932.
void CopyTextCut(char* dest, std::size_t destSize, const char* src);

// Forms the status text (directory, empty line, tab and version transition)
// into out; a text longer than the buffer is cut to fit.
void FormatStatusText(char* out, std::size_t outSize, const char* installDir,
                      const char* installedVersion);

class InstallationCheck {
 public:
  explicit InstallationCheck(Platform& platform) : platform_(platform) {}
  virtual ~InstallationCheck() = default;

  using Probe = bool (InstallationCheck::*)(const char* path);

  // True when the file opens for reading with no sharing at all.
  bool ProbeFileExists(const char* path);
  // True when the file opens for reading while sharing reading and was last
  // written at or after FRESHNESS_THRESHOLD.
  bool ProbeFileFresh(const char* path);
  // Applies the probe to each installed file in order; false at the first
  // failure, without probing the rest. A path too long for the working text
  // is a failing probe, never a shortened path that would name another file.
  bool ProbeInstalledFiles(Probe probe);

  // Fills m_szInstallDir from the App Paths entry; false if it cannot be read.
  bool LocateInstallation();
  // Fills m_szInstalledVersion; empty on any failure.
  void ReadInstalledVersion();

  // The check run while the dialog initialises. True: an update is needed and
  // the dialog is shown. False: a message was shown and the dialog cancelled.
  bool CheckInstallation();

  char m_szInstallDir[INSTALL_DIR_SIZE] = {};
  char m_szInstalledVersion[INSTALLED_VERSION_SIZE] = {};

 protected:
  // What the check needs from the dialog that hosts it.
  // A message box owned by the dialog; returns when dismissed.
  virtual int ShowMessage(const char* text, const char* caption, std::uint32_t style) = 0;
  // Replaces the text of the dialog's IDC_INSTALL_INFO control.
  virtual void ShowInstallInfo(const char* text) = 0;
  // The dialog's OnCancel: ends the modal dialog with IDCANCEL.
  virtual void CancelDialog() = 0;

  // Reads a string value into field, cleared first. A value that fails to read
  // or fills the whole field without a terminating zero leaves it empty.
  bool ReadRegistryString(const char* subkey, const char* valueName, char* field,
                          std::size_t fieldSize);

  Platform& platform_;
};

}  // namespace kv
