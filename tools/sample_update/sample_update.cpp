// The sample update program: what the launcher embeds when the build is not
// given the real one. Started with no arguments in the installation directory,
// it sets the last-write time of each of the six installed files to the
// present, shows a small window of its own for about a second so that a user
// sees that it ran, and ends with the number of files it could not update
// (0 when all six are done).
#include <windows.h>

#include <cstdio>

namespace {

const char* const kInstalledFiles[] = {"KvWin.exe", "KvBc.exe",       "KvRace.exe",
                                       "KvVtr.exe", "Help\\body.html", "Help\\menu.html"};
constexpr int kFileCount = sizeof kInstalledFiles / sizeof kInstalledFiles[0];
constexpr UINT kShowMilliseconds = 1000;
constexpr UINT_PTR kCloseTimer = 1;
const char kClassName[] = "KvSampleUpdate";
const char kTitle[] = "Kelvaro for Win update";

char g_status[128] = "Updating the installed files...";

bool Freshen(const char* name) {
  HANDLE file = CreateFileA(name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  bool done = SetFileTime(file, nullptr, nullptr, &now) != FALSE;
  CloseHandle(file);
  return done;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      SetBkMode(dc, TRANSPARENT);
      DrawTextA(dc, g_status, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kCloseTimer) {
        KillTimer(window, kCloseTimer);
        DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

HWND ShowProgressWindow(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  if (RegisterClassA(&windowClass) == 0) return nullptr;
  const int width = 360;
  const int height = 110;
  HWND window = CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return nullptr;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND window = ShowProgressWindow(instance);

  int failed = 0;
  for (const char* name : kInstalledFiles) {
    if (!Freshen(name)) ++failed;
  }
  std::snprintf(g_status, sizeof g_status, "%d of %d installed files brought up to date.", kFileCount - failed,
                kFileCount);

  // The work is done; the window stays up for a moment. Without a window
  // (no desktop to show it on) the result is the same.
  if (window != nullptr) {
    InvalidateRect(window, nullptr, TRUE);
    if (SetTimer(window, kCloseTimer, kShowMilliseconds, nullptr) == 0) DestroyWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return failed;
}
