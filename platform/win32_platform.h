// The Platform operations on the Win32 API.
#pragma once

#include "platform/platform.h"

namespace kv {

class Win32Platform final : public Platform {
 public:
  long RegistryOpen(const char* subkey, std::uint32_t access, RegKey* key) override;
  long RegistryQuery(RegKey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                     std::uint32_t* byteCount) override;
  long RegistrySet(RegKey key, const char* valueName, std::uint32_t type, const std::uint8_t* data,
                   std::uint32_t byteCount) override;
  void RegistryClose(RegKey key) override;

  bool FileCreate(const char* path, std::uint32_t access, std::uint32_t shareMode,
                  std::uint32_t disposition, std::uint32_t attributes, File* file) override;
  bool FileLastWriteTime(File file, FileTime* lastWrite) override;
  bool FileWrite(File file, const void* data, std::uint32_t size, std::uint32_t* written) override;
  bool FileRead(File file, void* buffer, std::uint32_t size, std::uint32_t* read) override;
  void FileClose(File file) override;
  bool FileDelete(const char* path) override;
  bool SetCurrentDir(const char* path) override;

  bool ResourceLock(const char* type, const char* name, ResourceBytes* bytes) override;

  bool MemoryAlloc(std::uint32_t flags, std::uint32_t size, Memory* memory) override;
  void* MemoryLock(Memory memory) override;
  void MemoryUnlock(Memory memory) override;
  void MemoryFree(Memory memory) override;

  bool ProcessCreate(const char* applicationName, char* commandLine, std::uint32_t creationFlags,
                     const StartupOptions& startup, StartedProcess* started) override;
  std::uint32_t ProcessWait(Process process, std::uint32_t milliseconds) override;
  bool ProcessExitCode(Process process, std::uint32_t* exitCode) override;
  void ProcessClose(Process process) override;
  void ThreadClose(Thread thread) override;

  void Pause(std::uint32_t milliseconds) override;
  int MessageBoxUnowned(const char* text, const char* caption, std::uint32_t style) override;
};

// The one instance the program uses.
Win32Platform& TheWin32Platform();

}  // namespace kv
