#include "platform/win32_platform.h"

#include <windows.h>

namespace kv {

static_assert(win::kGenericRead == GENERIC_READ && win::kGenericWrite == GENERIC_WRITE);
static_assert(win::kShareRead == FILE_SHARE_READ && win::kShareWrite == FILE_SHARE_WRITE &&
              win::kShareDelete == FILE_SHARE_DELETE);
static_assert(win::kCreateAlways == CREATE_ALWAYS && win::kOpenExisting == OPEN_EXISTING);
static_assert(win::kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(win::kKeyRead == KEY_READ && win::kKeySetValue == KEY_SET_VALUE && win::kRegSz == REG_SZ);
static_assert(win::kErrorSuccess == ERROR_SUCCESS && win::kErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
              win::kErrorAccessDenied == ERROR_ACCESS_DENIED && win::kErrorMoreData == ERROR_MORE_DATA);
static_assert(win::kMbOk == MB_OK && win::kMbIconError == MB_ICONERROR &&
              win::kMbIconExclamation == MB_ICONEXCLAMATION && win::kMbIconInformation == MB_ICONINFORMATION);
static_assert(win::kGmemMoveable == GMEM_MOVEABLE && win::kGmemZeroInit == GMEM_ZEROINIT);
static_assert(win::kStartfUseShowWindow == STARTF_USESHOWWINDOW && win::kSwShowDefault == SW_SHOWDEFAULT);
static_assert(win::kCreateNewProcessGroup == CREATE_NEW_PROCESS_GROUP &&
              win::kNormalPriorityClass == NORMAL_PRIORITY_CLASS &&
              win::kCreateDefaultErrorMode == CREATE_DEFAULT_ERROR_MODE);
static_assert(win::kInfinite == INFINITE && win::kWaitFailed == WAIT_FAILED && win::kWaitObject0 == WAIT_OBJECT_0);
static_assert(win::kMaxPath == MAX_PATH);
#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(STARTUPINFOA) == 68, "the shipped program's start-up information");
#endif

namespace {

template <typename Token>
Token ToToken(HANDLE handle) {
  return static_cast<Token>(reinterpret_cast<std::uintptr_t>(handle));
}
template <typename Token>
HANDLE FromToken(Token token) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(token));
}

}  // namespace

long Win32Platform::RegistryOpen(const char* subkey, std::uint32_t access, RegKey* key) {
  HKEY opened = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = ToToken<RegKey>(opened);
  return result;
}

long Win32Platform::RegistryQuery(RegKey key, const char* valueName, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* byteCount) {
  DWORD reportedType = 0;
  DWORD count = *byteCount;
  LONG result = RegQueryValueExA(static_cast<HKEY>(FromToken(key)), valueName, nullptr, &reportedType,
                                 data, &count);
  *type = reportedType;
  *byteCount = count;
  return result;
}

long Win32Platform::RegistrySet(RegKey key, const char* valueName, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t byteCount) {
  return RegSetValueExA(static_cast<HKEY>(FromToken(key)), valueName, 0, type, data, byteCount);
}

void Win32Platform::RegistryClose(RegKey key) { RegCloseKey(static_cast<HKEY>(FromToken(key))); }

bool Win32Platform::FileCreate(const char* path, std::uint32_t access, std::uint32_t shareMode,
                               std::uint32_t disposition, std::uint32_t attributes, File* file) {
  HANDLE handle = CreateFileA(path, access, shareMode, nullptr, disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = ToToken<File>(handle);
  return true;
}

bool Win32Platform::FileLastWriteTime(File file, FileTime* lastWrite) {
  FILETIME time{};
  if (!GetFileTime(FromToken(file), nullptr, nullptr, &time)) return false;
  lastWrite->low = time.dwLowDateTime;
  lastWrite->high = time.dwHighDateTime;
  return true;
}

bool Win32Platform::FileWrite(File file, const void* data, std::uint32_t size, std::uint32_t* written) {
  DWORD count = 0;
  BOOL ok = WriteFile(FromToken(file), data, size, &count, nullptr);
  *written = count;
  return ok != FALSE;
}

bool Win32Platform::FileRead(File file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD count = 0;
  BOOL ok = ReadFile(FromToken(file), buffer, size, &count, nullptr);
  *read = count;
  return ok != FALSE;
}

void Win32Platform::FileClose(File file) { CloseHandle(FromToken(file)); }

bool Win32Platform::FileDelete(const char* path) { return DeleteFileA(path) != FALSE; }

bool Win32Platform::SetCurrentDir(const char* path) { return SetCurrentDirectoryA(path) != FALSE; }

bool Win32Platform::ResourceLock(const char* type, const char* name, ResourceBytes* bytes) {
  HRSRC found = FindResourceA(nullptr, name, type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return false;
  const void* locked = LockResource(loaded);
  if (locked == nullptr) return false;
  bytes->data = static_cast<const std::uint8_t*>(locked);
  bytes->size = SizeofResource(nullptr, found);
  return true;
}

bool Win32Platform::MemoryAlloc(std::uint32_t flags, std::uint32_t size, Memory* memory) {
  HGLOBAL block = GlobalAlloc(flags, size);
  if (block == nullptr) return false;
  *memory = ToToken<Memory>(block);
  return true;
}

void* Win32Platform::MemoryLock(Memory memory) { return GlobalLock(FromToken(memory)); }

void Win32Platform::MemoryUnlock(Memory memory) { GlobalUnlock(FromToken(memory)); }

void Win32Platform::MemoryFree(Memory memory) { GlobalFree(FromToken(memory)); }

bool Win32Platform::ProcessCreate(const char* applicationName, char* commandLine,
                                  std::uint32_t creationFlags, const StartupOptions& startup,
                                  StartedProcess* started) {
  STARTUPINFOA startupInfo{};
  startupInfo.cb = sizeof startupInfo;
  startupInfo.dwFlags = startup.flags;
  startupInfo.wShowWindow = startup.showWindow;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(applicationName, commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr,
                      nullptr, &startupInfo, &info)) {
    return false;
  }
  started->process = ToToken<Process>(info.hProcess);
  started->thread = ToToken<Thread>(info.hThread);
  return true;
}

std::uint32_t Win32Platform::ProcessWait(Process process, std::uint32_t milliseconds) {
  return WaitForSingleObject(FromToken(process), milliseconds);
}

bool Win32Platform::ProcessExitCode(Process process, std::uint32_t* exitCode) {
  DWORD code = 0;
  BOOL ok = GetExitCodeProcess(FromToken(process), &code);
  *exitCode = code;
  return ok != FALSE;
}

void Win32Platform::ProcessClose(Process process) { CloseHandle(FromToken(process)); }

void Win32Platform::ThreadClose(Thread thread) { CloseHandle(FromToken(thread)); }

void Win32Platform::Pause(std::uint32_t milliseconds) { Sleep(milliseconds); }

int Win32Platform::MessageBoxUnowned(const char* text, const char* caption, std::uint32_t style) {
  return MessageBoxA(nullptr, text, caption, style);
}

Win32Platform& TheWin32Platform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace kv
