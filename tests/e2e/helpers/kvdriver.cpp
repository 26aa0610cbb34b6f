// kvdriver: acts as the user on the launcher's windows, for the end-to-end tests.
//
// It finds visible top-level dialog-class windows ("#32770": the launcher's
// dialog and every message box), reports them and presses their buttons. Every
// text is printed as hex bytes of the ANSI (code page 932) text, so the tests
// compare exact bytes. Each command prints one JSON object per line.
//
//   kvdriver wait [--caption HEX]... [--kind dialog|box|any] [--class NAME] [--timeout MS]
//       Waits for a visible window of that kind and prints it. --class looks at
//       top-level windows of another class instead (an update program's window).
//   kvdriver list [--caption HEX]...
//       Prints every visible such window now, then {"event":"end"}.
//   kvdriver wait-gone [--caption HEX]... [--timeout MS]
//       Waits until no such window exists any more, visible or not.
//   kvdriver press HWND ID          posts WM_COMMAND for the control ID (a click)
//   kvdriver key HWND escape|enter  posts the key to the window's focused control
//   kvdriver type HWND escape|enter brings the window to the front and sends the
//                                   key as real keyboard input (SendInput)
//   kvdriver close HWND             posts WM_SYSCOMMAND SC_CLOSE (the close box)
//   kvdriver raise HWND             brings the window to the front, as a click on it would
//   kvdriver reg-get KEY VALUE...   prints values under HKEY_LOCAL_MACHINE, one
//                                   line for each KEY VALUE pair
//   kvdriver reg-set KEY VALUE TYPE HEX
//                                   sets a value under HKEY_LOCAL_MACHINE (the
//                                   key created if need be) to exactly these
//                                   bytes with RegSetValueExA: any type, with or
//                                   without a terminating zero
//
// Nothing is ever sent synchronously to the launcher (no SendMessage): its Yes
// handler runs for a long time and would block the driver. Texts are read with
// GetWindowTextA, which for another process's window reads the stored text
// without a message.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kTextBufferSize = 2048;
constexpr int kDefaultTimeoutMs = 15000;
constexpr int kPollMs = 25;
constexpr size_t kMaxFilters = 8;
constexpr size_t kMaxChildren = 64;

std::string Hex(const char* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    out += digits[c >> 4];
    out += digits[c & 0xF];
  }
  return out;
}

bool FromHex(const char* hex, std::string* out) {
  size_t length = std::strlen(hex);
  if (length % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < length; i += 2) {
    char pair[3] = {hex[i], hex[i + 1], '\0'};
    char* end = nullptr;
    long value = std::strtol(pair, &end, 16);
    if (end != pair + 2) return false;
    out->push_back(static_cast<char>(value));
  }
  return true;
}

std::string WindowTextHex(HWND hwnd) {
  char buffer[kTextBufferSize];
  int length = GetWindowTextA(hwnd, buffer, sizeof buffer);
  if (length < 0) length = 0;
  return Hex(buffer, static_cast<size_t>(length));
}

std::string WindowText(HWND hwnd) {
  char buffer[kTextBufferSize];
  int length = GetWindowTextA(hwnd, buffer, sizeof buffer);
  if (length < 0) length = 0;
  return std::string(buffer, static_cast<size_t>(length));
}

std::string ClassName(HWND hwnd) {
  char buffer[256];
  int length = GetClassNameA(hwnd, buffer, sizeof buffer);
  if (length < 0) length = 0;
  return std::string(buffer, static_cast<size_t>(length));
}

std::string Handle(HWND hwnd) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)));
  return buffer;
}

std::string RectJson(const RECT& r) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "[%ld,%ld,%ld,%ld]", static_cast<long>(r.left),
                static_cast<long>(r.top), static_cast<long>(r.right), static_cast<long>(r.bottom));
  return buffer;
}

// Which windows a command looks at: visible top-level dialog-class windows,
// optionally only those with one of the given captions.
struct Filter {
  std::vector<std::string> captions;
  std::string kind = "any";  // dialog (has control 1000), box (has no control 1000), any
  std::string className = "#32770";

  bool CaptionMatches(HWND hwnd) const {
    if (captions.empty()) return true;
    std::string caption = WindowText(hwnd);
    for (const std::string& wanted : captions) {
      if (caption == wanted) return true;
    }
    return false;
  }
};

const char* KindOf(HWND hwnd) {
  return GetDlgItem(hwnd, 1000) != nullptr ? "dialog" : "box";
}

struct Collect {
  const Filter* filter;
  bool visibleOnly;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
  Collect* collect = reinterpret_cast<Collect*>(param);
  if (collect->visibleOnly && !IsWindowVisible(hwnd)) return TRUE;
  // Class names compare without regard to case, as the system compares them.
  if (lstrcmpiA(ClassName(hwnd).c_str(), collect->filter->className.c_str()) != 0 ||
      !collect->filter->CaptionMatches(hwnd)) {
    return TRUE;
  }
  if (collect->filter->kind != "any" && collect->filter->kind != KindOf(hwnd)) return TRUE;
  collect->found.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> FindWindows(const Filter& filter, bool visibleOnly) {
  Collect collect{&filter, visibleOnly, {}};
  EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&collect));
  return collect.found;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  auto* children = reinterpret_cast<std::vector<HWND>*>(param);
  if (children->size() < kMaxChildren) children->push_back(hwnd);
  return TRUE;
}

std::string Describe(HWND hwnd) {
  std::string out = "{\"event\":\"window\",\"hwnd\":\"" + Handle(hwnd) + "\"";
  out += ",\"kind\":\"" + std::string(KindOf(hwnd)) + "\"";
  DWORD pid = 0;
  DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
  out += ",\"pid\":" + std::to_string(pid);
  out += ",\"caption\":\"" + WindowTextHex(hwnd) + "\"";
  HWND text = GetDlgItem(hwnd, 0xFFFF);
  out += ",\"text\":\"" + (text != nullptr ? WindowTextHex(text) : std::string()) + "\"";
  out += ",\"style\":" + std::to_string(static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)));
  out += ",\"exstyle\":" +
         std::to_string(static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_EXSTYLE)));
  HWND owner = GetWindow(hwnd, GW_OWNER);
  out += ",\"owner\":\"" + Handle(owner) + "\"";
  out += ",\"owner_visible\":" + std::string(owner != nullptr && IsWindowVisible(owner) ? "true" : "false");

  RECT rect{};
  GetWindowRect(hwnd, &rect);
  out += ",\"rect\":" + RectJson(rect);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoA(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    out += ",\"work\":" + RectJson(monitor.rcWork) + ",\"monitor\":" + RectJson(monitor.rcMonitor);
  }

  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  long focusId = -1;
  std::string focus = "0x0";
  if (GetGUIThreadInfo(tid, &gui)) {
    focus = Handle(gui.hwndFocus);
    if (gui.hwndFocus != nullptr && IsChild(hwnd, gui.hwndFocus)) {
      focusId = GetDlgCtrlID(gui.hwndFocus);
    }
    out += ",\"active\":\"" + Handle(gui.hwndActive) + "\"";
  }
  out += ",\"focus\":\"" + focus + "\",\"focus_id\":" + std::to_string(focusId);
  out += ",\"foreground\":" + std::string(GetForegroundWindow() == hwnd ? "true" : "false");

  std::vector<HWND> children;
  EnumChildWindows(hwnd, &CollectChild, reinterpret_cast<LPARAM>(&children));
  out += ",\"controls\":[";
  for (size_t i = 0; i < children.size(); ++i) {
    HWND child = children[i];
    RECT childRect{};
    GetWindowRect(child, &childRect);
    if (i > 0) out += ",";
    out += "{\"id\":" + std::to_string(GetDlgCtrlID(child));
    out += ",\"class\":\"" + ClassName(child) + "\"";
    out += ",\"text\":\"" + WindowTextHex(child) + "\"";
    out += ",\"style\":" +
           std::to_string(static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)));
    out += ",\"visible\":" + std::string(IsWindowVisible(child) ? "true" : "false");
    out += ",\"rect\":" + RectJson(childRect) + "}";
  }
  out += "]}";
  return out;
}

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// A short description of every visible top-level window, for a failed wait.
BOOL CALLBACK CollectVisible(HWND hwnd, LPARAM param) {
  auto* list = reinterpret_cast<std::string*>(param);
  if (!IsWindowVisible(hwnd)) return TRUE;
  if (!list->empty()) *list += ",";
  std::string name = ClassName(hwnd);
  *list += "{\"hwnd\":\"" + Handle(hwnd) + "\",\"class\":\"" + Hex(name.c_str(), name.size()) +
           "\",\"caption\":\"" + WindowTextHex(hwnd) + "\"}";
  return TRUE;
}

std::string VisibleWindows() {
  std::string list;
  EnumWindows(&CollectVisible, reinterpret_cast<LPARAM>(&list));
  return "[" + list + "]";
}

// Reports a failure; extra holds further JSON members (",\"name\":value...").
int Fail(const std::string& reason, const std::string& extra = std::string()) {
  PrintLine("{\"event\":\"error\",\"reason\":\"" + reason + "\"" + extra + "}");
  return 1;
}

// Kinds of visible windows seen while polling, in the order first seen.
void NoteSeen(const Filter& captions, std::vector<std::string>* seen) {
  Filter any = captions;
  any.kind = "any";
  for (HWND hwnd : FindWindows(any, true)) {
    std::string entry = std::string(KindOf(hwnd)) + ":" + Handle(hwnd);
    bool known = false;
    for (const std::string& s : *seen) known = known || s == entry;
    if (!known) seen->push_back(entry);
  }
}

std::string SeenJson(const std::vector<std::string>& seen) {
  std::string out = "[";
  for (size_t i = 0; i < seen.size(); ++i) out += (i > 0 ? ",\"" : "\"") + seen[i] + "\"";
  return out + "]";
}

int Wait(const Filter& filter, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  std::vector<std::string> seen;
  for (;;) {
    NoteSeen(filter, &seen);
    std::vector<HWND> found = FindWindows(filter, true);
    if (!found.empty()) {
      // Let the window finish its first painting and focus before it is read.
      Sleep(100);
      if (IsWindow(found.front()) && IsWindowVisible(found.front())) {
        std::string line = Describe(found.front());
        line.insert(line.size() - 1, ",\"seen\":" + SeenJson(seen));
        PrintLine(line);
        return 0;
      }
    }
    if (GetTickCount() - start >= timeoutMs) break;
    Sleep(kPollMs);
  }
  return Fail("timeout waiting for a " + filter.kind + " window",
              ",\"seen\":" + SeenJson(seen) + ",\"visible\":" + VisibleWindows());
}

int WaitGone(const Filter& filter, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  std::vector<std::string> seen;
  for (;;) {
    NoteSeen(filter, &seen);
    if (FindWindows(filter, false).empty()) {
      PrintLine("{\"event\":\"gone\",\"seen\":" + SeenJson(seen) + "}");
      return 0;
    }
    if (GetTickCount() - start >= timeoutMs) break;
    Sleep(kPollMs);
  }
  return Fail("timeout waiting for the windows to go",
              ",\"seen\":" + SeenJson(seen) + ",\"visible\":" + VisibleWindows());
}

int List(const Filter& filter) {
  for (HWND hwnd : FindWindows(filter, true)) PrintLine(Describe(hwnd));
  PrintLine("{\"event\":\"end\"}");
  return 0;
}

HWND ParseWindow(const char* text) {
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 0);
  if (end == text || *end != '\0') return nullptr;
  HWND hwnd = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value));
  return IsWindow(hwnd) ? hwnd : nullptr;
}

int Press(HWND hwnd, int id) {
  HWND control = GetDlgItem(hwnd, id);
  if (!PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control))) {
    return Fail("PostMessage failed");
  }
  PrintLine("{\"event\":\"pressed\",\"id\":" + std::to_string(id) + "}");
  return 0;
}

bool KeyCode(const char* name, WORD* vk) {
  if (std::strcmp(name, "escape") == 0) {
    *vk = VK_ESCAPE;
  } else if (std::strcmp(name, "enter") == 0) {
    *vk = VK_RETURN;
  } else {
    return false;
  }
  return true;
}

// Posts the key to the focused control, as the keyboard would deliver it; the
// dialog manager of the launcher's modal loop turns it into a command.
int PostKey(HWND hwnd, WORD vk) {
  DWORD tid = GetWindowThreadProcessId(hwnd, nullptr);
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  HWND target = hwnd;
  if (GetGUIThreadInfo(tid, &gui) && gui.hwndFocus != nullptr) target = gui.hwndFocus;
  UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
  LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  LPARAM up = down | (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
  if (!PostMessageA(target, WM_KEYDOWN, vk, down) || !PostMessageA(target, WM_KEYUP, vk, up)) {
    return Fail("PostMessage failed");
  }
  PrintLine("{\"event\":\"key\",\"target\":\"" + Handle(target) + "\"}");
  return 0;
}

// Real keyboard input: goes to whatever window has the focus, as for a user.
int TypeKey(HWND hwnd, WORD vk) {
  SetForegroundWindow(hwnd);
  Sleep(100);
  INPUT inputs[2]{};
  inputs[0].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = vk;
  inputs[1] = inputs[0];
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  if (SendInput(2, inputs, sizeof(INPUT)) != 2) return Fail("SendInput failed");
  PrintLine("{\"event\":\"typed\",\"foreground\":\"" + Handle(GetForegroundWindow()) + "\"}");
  return 0;
}

int Raise(HWND hwnd) {
  if (!SetForegroundWindow(hwnd)) return Fail("SetForegroundWindow failed");
  PrintLine("{\"event\":\"raised\",\"foreground\":\"" + Handle(GetForegroundWindow()) + "\"}");
  return 0;
}

int Close(HWND hwnd) {
  if (!PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0)) return Fail("PostMessage failed");
  PrintLine("{\"event\":\"closed\"}");
  return 0;
}

void RegGet(const char* subkey, const char* value) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key);
  if (result != ERROR_SUCCESS) {
    PrintLine("{\"event\":\"reg\",\"key\":false,\"error\":" + std::to_string(result) + "}");
    return;
  }
  char data[kTextBufferSize];
  DWORD type = 0;
  DWORD size = sizeof data;
  result = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    PrintLine("{\"event\":\"reg\",\"key\":true,\"error\":" + std::to_string(result) + "}");
    return;
  }
  PrintLine("{\"event\":\"reg\",\"key\":true,\"error\":0,\"type\":" + std::to_string(type) +
            ",\"data\":\"" + Hex(data, size) + "\"}");
}

int RegSet(const char* subkey, const char* value, const char* typeText, const char* hex) {
  char* end = nullptr;
  unsigned long type = std::strtoul(typeText, &end, 0);
  std::string data;
  if (end == typeText || *end != '\0' || !FromHex(hex, &data)) return Fail("bad type or data");
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(key, value, 0, static_cast<DWORD>(type),
                            reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS) return Fail("registry error", ",\"error\":" + std::to_string(result));
  PrintLine("{\"event\":\"reg-set\",\"error\":0}");
  return 0;
}

int Usage() {
  std::fputs(
      "usage: kvdriver wait|list|wait-gone [--caption HEX]... [--kind dialog|box|any] [--class NAME]\n"
      "                [--timeout MS]\n"
      "       kvdriver press HWND ID | key HWND escape|enter | type HWND escape|enter | close HWND\n"
      "       kvdriver raise HWND\n"
      "       kvdriver reg-get KEY VALUE [KEY VALUE]...\n"
      "       kvdriver reg-set KEY VALUE TYPE HEX\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];

  if (command == "wait" || command == "list" || command == "wait-gone") {
    Filter filter;
    DWORD timeoutMs = kDefaultTimeoutMs;
    for (int i = 2; i < argc; ++i) {
      std::string option = argv[i];
      if (i + 1 >= argc) return Usage();
      const char* value = argv[++i];
      if (option == "--caption") {
        std::string caption;
        if (!FromHex(value, &caption) || filter.captions.size() >= kMaxFilters) return Usage();
        filter.captions.push_back(caption);
      } else if (option == "--kind") {
        filter.kind = value;
        if (filter.kind != "dialog" && filter.kind != "box" && filter.kind != "any") return Usage();
      } else if (option == "--class") {
        filter.className = value;
      } else if (option == "--timeout") {
        timeoutMs = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
      } else {
        return Usage();
      }
    }
    if (command == "wait") return Wait(filter, timeoutMs);
    if (command == "wait-gone") return WaitGone(filter, timeoutMs);
    return List(filter);
  }

  if (command == "reg-get") {
    if (argc < 4 || argc % 2 != 0) return Usage();
    for (int i = 2; i < argc; i += 2) RegGet(argv[i], argv[i + 1]);
    return 0;
  }
  if (command == "reg-set") {
    if (argc != 6) return Usage();
    return RegSet(argv[2], argv[3], argv[4], argv[5]);
  }

  if (argc < 3) return Usage();
  HWND hwnd = ParseWindow(argv[2]);
  if (hwnd == nullptr) return Fail("no such window");
  if (command == "close" && argc == 3) return Close(hwnd);
  if (command == "raise" && argc == 3) return Raise(hwnd);
  if (argc != 4) return Usage();
  if (command == "press") return Press(hwnd, std::atoi(argv[3]));
  WORD vk = 0;
  if (!KeyCode(argv[3], &vk)) return Usage();
  if (command == "key") return PostKey(hwnd, vk);
  if (command == "type") return TypeKey(hwnd, vk);
  return Usage();
}
