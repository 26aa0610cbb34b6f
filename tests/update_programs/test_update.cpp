// An update program for the end-to-end tests, embedded in a test build of the
// launcher. What it does is chosen by the test through "update-behaviour.txt"
// in its current directory (the installation directory), one command a line:
//   exit N        end with exit code N (default 0)
//   sleep MS      keep its window up for MS milliseconds first
//   nowindow      never create a window
//   stale NAME    leave this installed file as it is
//   delete NAME   delete this installed file
//   crash         end by an access violation after its work
// Without the file it freshens all six installed files and ends with 0.
// Each run appends its command line and current directory to "update-runs.txt".
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char* const kInstalled[] = {"KvWin.exe", "KvBc.exe", "KvRace.exe",
                                  "KvVtr.exe", "Help\\body.html", "Help\\menu.html"};

struct Behaviour {
  unsigned exitCode = 0;
  unsigned sleepMs = 300;
  bool window = true;
  bool crash = false;
  char stale[8][64] = {};
  int staleCount = 0;
  char remove[8][64] = {};
  int removeCount = 0;
};

void ReadBehaviour(Behaviour& b) {
  FILE* f = std::fopen("update-behaviour.txt", "r");
  if (f == nullptr) return;
  char line[128];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    line[std::strcspn(line, "\r\n")] = '\0';
    char word[16] = {};
    char arg[64] = {};
    if (std::sscanf(line, "%15s %63[^\n]", word, arg) < 1) continue;
    if (std::strcmp(word, "exit") == 0) b.exitCode = static_cast<unsigned>(std::strtoul(arg, nullptr, 0));
    if (std::strcmp(word, "sleep") == 0) b.sleepMs = static_cast<unsigned>(std::strtoul(arg, nullptr, 0));
    if (std::strcmp(word, "nowindow") == 0) b.window = false;
    if (std::strcmp(word, "crash") == 0) b.crash = true;
    if (std::strcmp(word, "stale") == 0 && b.staleCount < 8) std::snprintf(b.stale[b.staleCount++], 64, "%s", arg);
    if (std::strcmp(word, "delete") == 0 && b.removeCount < 8) std::snprintf(b.remove[b.removeCount++], 64, "%s", arg);
  }
  std::fclose(f);
}

bool Listed(const char (*names)[64], int count, const char* name) {
  for (int i = 0; i < count; ++i)
    if (std::strcmp(names[i], name) == 0) return true;
  return false;
}

void RecordRun() {
  char dir[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof dir, dir);
  FILE* f = std::fopen("update-runs.txt", "a");
  if (f == nullptr) return;
  std::fprintf(f, "cmdline=%s|cwd=%s\n", GetCommandLineA(), dir);
  std::fclose(f);
}

void Freshen(const char* name) {
  HANDLE h = CreateFileA(name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(h, nullptr, nullptr, &now);
  CloseHandle(h);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  Behaviour b;
  ReadBehaviour(b);
  RecordRun();

  HWND window = nullptr;
  if (b.window) {
    window = CreateWindowExA(0, "STATIC", "Kelvaro for Win test update", WS_OVERLAPPEDWINDOW | SS_CENTER,
                             CW_USEDEFAULT, CW_USEDEFAULT, 360, 120, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, show);
    UpdateWindow(window);
  }
  for (const char* name : kInstalled) {
    if (Listed(b.remove, b.removeCount, name)) {
      DeleteFileA(name);
    } else if (!Listed(b.stale, b.staleCount, name)) {
      Freshen(name);
    }
  }
  // Keep the window up (and answering) for the time asked.
  DWORD end = GetTickCount() + b.sleepMs;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(20);
  }
  if (window != nullptr) DestroyWindow(window);
  if (b.crash) RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return static_cast<int>(b.exitCode);
}
