// kvhold: another program for the end-to-end tests to run beside the launcher.
//
//   kvhold file PATH ACCESS SHARE READY STOP SECONDS
//       Opens PATH (OPEN_EXISTING) with the given access (r, w, rw) and share
//       mode (none, or any of r, w, d), then writes "held" into the file READY
//       and keeps the file open until the file STOP exists or SECONDS have
//       passed. If the open fails it writes "error N" into READY and ends.
//   kvhold window READY STOP SECONDS
//       Keeps one hidden top-level window open (so the Wine desktop stays up
//       between launches) until STOP exists or SECONDS have passed; writes
//       "window" into READY once the window exists.
//
// READY is written under another name and then renamed, so its reader never
// sees it half written. Every wait is bounded by SECONDS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kMaxSeconds = 24 * 60 * 60;

bool WriteReady(const char* path, const std::string& text) {
  std::string temporary = std::string(path) + ".tmp";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool ParseAccess(const char* text, DWORD* access) {
  if (std::strcmp(text, "r") == 0) {
    *access = GENERIC_READ;
  } else if (std::strcmp(text, "w") == 0) {
    *access = GENERIC_WRITE;
  } else if (std::strcmp(text, "rw") == 0) {
    *access = GENERIC_READ | GENERIC_WRITE;
  } else {
    return false;
  }
  return true;
}

bool ParseShare(const char* text, DWORD* share) {
  *share = 0;
  if (std::strcmp(text, "none") == 0) return true;
  for (const char* c = text; *c != '\0'; ++c) {
    switch (*c) {
      case 'r': *share |= FILE_SHARE_READ; break;
      case 'w': *share |= FILE_SHARE_WRITE; break;
      case 'd': *share |= FILE_SHARE_DELETE; break;
      default: return false;
    }
  }
  return true;
}

bool ParseSeconds(const char* text, DWORD* seconds) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || value == 0 || value > kMaxSeconds) return false;
  *seconds = static_cast<DWORD>(value);
  return true;
}

// Waits until STOP exists or the time is up, taking window messages meanwhile.
void WaitForStop(const char* stop, DWORD seconds) {
  DWORD start = GetTickCount();
  while (!Exists(stop) && GetTickCount() - start < seconds * 1000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

int HoldFile(const char* path, DWORD access, DWORD share, const char* ready, const char* stop,
             DWORD seconds) {
  HANDLE file = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    WriteReady(ready, "error " + std::to_string(GetLastError()));
    return 1;
  }
  if (!WriteReady(ready, "held")) {
    CloseHandle(file);
    return 1;
  }
  WaitForStop(stop, seconds);
  CloseHandle(file);
  return 0;
}

int KeepWindow(const char* ready, const char* stop, DWORD seconds) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "KvHoldKeepAlive";
  if (RegisterClassA(&windowClass) == 0) return 1;
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, windowClass.lpszClassName, "kvhold", WS_POPUP, 0, 0,
                                1, 1, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return 1;
  if (!WriteReady(ready, "window")) {
    DestroyWindow(window);
    return 1;
  }
  WaitForStop(stop, seconds);
  DestroyWindow(window);
  return 0;
}

int Usage() {
  std::fputs(
      "usage: kvhold file PATH r|w|rw none|[rwd]+ READY STOP SECONDS\n"
      "       kvhold window READY STOP SECONDS\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  DWORD seconds = 0;
  if (std::strcmp(argv[1], "file") == 0 && argc == 8) {
    DWORD access = 0;
    DWORD share = 0;
    if (!ParseAccess(argv[3], &access) || !ParseShare(argv[4], &share) || !ParseSeconds(argv[7], &seconds)) {
      return Usage();
    }
    return HoldFile(argv[2], access, share, argv[5], argv[6], seconds);
  }
  if (std::strcmp(argv[1], "window") == 0 && argc == 5) {
    if (!ParseSeconds(argv[4], &seconds)) return Usage();
    return KeepWindow(argv[2], argv[3], seconds);
  }
  return Usage();
}
