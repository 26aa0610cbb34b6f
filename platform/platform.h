// The operating-system operations that the launcher's logic uses, one for each
// Win32 call it needs, with the arguments that matter to it (access, share mode,
// flags) so that a test can see them. No Windows header is needed to use it: the
// logic in install/ and update/ compiles and runs natively against a fake.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// Win32 values that the logic passes through this interface. The Win32
// implementation checks each one against <windows.h> at compile time.
namespace win {
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kShareNone = 0;
constexpr std::uint32_t kShareRead = 0x1;
constexpr std::uint32_t kShareWrite = 0x2;
constexpr std::uint32_t kShareDelete = 0x4;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeNormal = 0x80;

constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kRegSz = 1;
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;

constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbIconError = 0x10;
constexpr std::uint32_t kMbIconExclamation = 0x30;
constexpr std::uint32_t kMbIconInformation = 0x40;

constexpr std::uint32_t kGmemMoveable = 0x2;
constexpr std::uint32_t kGmemZeroInit = 0x40;

constexpr std::uint32_t kStartfUseShowWindow = 0x1;
constexpr std::uint16_t kSwShowDefault = 10;
constexpr std::uint32_t kCreateNewProcessGroup = 0x200;
constexpr std::uint32_t kNormalPriorityClass = 0x20;
constexpr std::uint32_t kCreateDefaultErrorMode = 0x04000000;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

constexpr std::size_t kMaxPath = 260;
}  // namespace win

// Opaque tokens for what the platform has opened. Only the platform gives them
// out and takes them back; the owners in handles.h close them.
enum class RegKey : std::uintptr_t {};
enum class File : std::uintptr_t {};
enum class Memory : std::uintptr_t {};
enum class Process : std::uintptr_t {};
enum class Thread : std::uintptr_t {};

// A last-write time: 100 ns intervals since 1601-01-01 00:00:00 UTC.
struct FileTime {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};

// Read-only view of one of the program's own resources.
struct ResourceBytes {
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
};

// The start-up information members that the launcher sets; every other member
// of the platform's structure is zero and its size member is its own size.
struct StartupOptions {
  std::uint32_t flags = 0;
  std::uint16_t showWindow = 0;
};

struct StartedProcess {
  Process process{};
  Thread thread{};
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Registry under HKEY_LOCAL_MACHINE; results are Win32 error codes, 0 on success.
  virtual long RegistryOpen(const char* subkey, std::uint32_t access, RegKey* key) = 0;
  virtual long RegistryQuery(RegKey key, const char* valueName, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* byteCount) = 0;
  virtual long RegistrySet(RegKey key, const char* valueName, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t byteCount) = 0;
  virtual void RegistryClose(RegKey key) = 0;

  // Files. FileCreate fails where the system gives no handle: the file is
  // missing, held open against the requested sharing, or cannot be created.
  virtual bool FileCreate(const char* path, std::uint32_t access, std::uint32_t shareMode,
                          std::uint32_t disposition, std::uint32_t attributes, File* file) = 0;
  virtual bool FileLastWriteTime(File file, FileTime* lastWrite) = 0;
  virtual bool FileWrite(File file, const void* data, std::uint32_t size,
                         std::uint32_t* written) = 0;
  // Reads on from the file's current position; *read is 0 at its end.
  virtual bool FileRead(File file, void* buffer, std::uint32_t size, std::uint32_t* read) = 0;
  virtual void FileClose(File file) = 0;
  virtual bool FileDelete(const char* path) = 0;
  virtual bool SetCurrentDir(const char* path) = 0;

  // The program's own resource of the given type and name: find, load and lock.
  virtual bool ResourceLock(const char* type, const char* name, ResourceBytes* bytes) = 0;

  // Global memory.
  virtual bool MemoryAlloc(std::uint32_t flags, std::uint32_t size, Memory* memory) = 0;
  virtual void* MemoryLock(Memory memory) = 0;
  virtual void MemoryUnlock(Memory memory) = 0;
  virtual void MemoryFree(Memory memory) = 0;

  // Processes. ProcessCreate passes no security attributes, no handle
  // inheritance, no environment block and no current directory: the child
  // inherits the launcher's environment and current directory.
  virtual bool ProcessCreate(const char* applicationName, char* commandLine,
                             std::uint32_t creationFlags, const StartupOptions& startup,
                             StartedProcess* started) = 0;
  virtual std::uint32_t ProcessWait(Process process, std::uint32_t milliseconds) = 0;
  virtual bool ProcessExitCode(Process process, std::uint32_t* exitCode) = 0;
  virtual void ProcessClose(Process process) = 0;
  virtual void ThreadClose(Thread thread) = 0;

  // Lets the given time pass (between tries of an operation that may succeed later).
  virtual void Pause(std::uint32_t milliseconds) = 0;

  // A message box with no owner window; returns when it is dismissed.
  virtual int MessageBoxUnowned(const char* text, const char* caption, std::uint32_t style) = 0;
};

}  // namespace kv
