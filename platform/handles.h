// Owners for what the platform opens: each closes its handle on every way out
// of the scope that opened it.
#pragma once

#include "platform/platform.h"

namespace kv {

class ScopedRegKey {
 public:
  explicit ScopedRegKey(Platform& platform) : platform_(platform) {}
  ~ScopedRegKey() {
    if (open_) platform_.RegistryClose(key_);
  }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  long Open(const char* subkey, std::uint32_t access) {
    long result = platform_.RegistryOpen(subkey, access, &key_);
    open_ = result == win::kErrorSuccess;
    return result;
  }
  RegKey get() const { return key_; }

 private:
  Platform& platform_;
  RegKey key_{};
  bool open_ = false;
};

class ScopedFile {
 public:
  explicit ScopedFile(Platform& platform) : platform_(platform) {}
  ~ScopedFile() { Close(); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  bool Create(const char* path, std::uint32_t access, std::uint32_t shareMode,
              std::uint32_t disposition) {
    open_ = platform_.FileCreate(path, access, shareMode, disposition,
                                 win::kFileAttributeNormal, &file_);
    return open_;
  }
  void Close() {
    if (open_) platform_.FileClose(file_);
    open_ = false;
  }
  File get() const { return file_; }

 private:
  Platform& platform_;
  File file_{};
  bool open_ = false;
};

// A locked block of global memory; unlocked and released on every way out.
class ScopedGlobalMemory {
 public:
  explicit ScopedGlobalMemory(Platform& platform) : platform_(platform) {}
  ~ScopedGlobalMemory() {
    if (address_ != nullptr) platform_.MemoryUnlock(memory_);
    if (allocated_) platform_.MemoryFree(memory_);
  }
  ScopedGlobalMemory(const ScopedGlobalMemory&) = delete;
  ScopedGlobalMemory& operator=(const ScopedGlobalMemory&) = delete;

  // The locked area, or nullptr when it could not be had.
  void* AllocateAndLock(std::uint32_t flags, std::uint32_t size) {
    allocated_ = platform_.MemoryAlloc(flags, size, &memory_);
    if (allocated_) address_ = platform_.MemoryLock(memory_);
    return address_;
  }

 private:
  Platform& platform_;
  Memory memory_{};
  bool allocated_ = false;
  void* address_ = nullptr;
};

class ScopedProcess {
 public:
  explicit ScopedProcess(Platform& platform) : platform_(platform) {}
  ~ScopedProcess() {
    if (open_) platform_.ProcessClose(process_);
  }
  ScopedProcess(const ScopedProcess&) = delete;
  ScopedProcess& operator=(const ScopedProcess&) = delete;

  void Adopt(Process process) {
    process_ = process;
    open_ = true;
  }
  Process get() const { return process_; }

 private:
  Platform& platform_;
  Process process_{};
  bool open_ = false;
};

}  // namespace kv
