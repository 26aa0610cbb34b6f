#include "platform/afxwin.h"

#include <cstring>

namespace {

CWinApp* g_app = nullptr;

// Reads the position and style of a dialog template (extended or plain).
struct TemplatePlacement {
  short x = 0;
  short y = 0;
  DWORD style = 0;
};

TemplatePlacement ReadPlacement(const BYTE* dialogTemplate) {
  TemplatePlacement placement;
  WORD version = 0;
  WORD signature = 0;
  std::memcpy(&version, dialogTemplate, sizeof version);
  std::memcpy(&signature, dialogTemplate + 2, sizeof signature);
  if (version == 1 && signature == 0xFFFF) {  // DLGTEMPLATEEX
    std::memcpy(&placement.style, dialogTemplate + 12, sizeof placement.style);
    std::memcpy(&placement.x, dialogTemplate + 18, sizeof placement.x);
    std::memcpy(&placement.y, dialogTemplate + 20, sizeof placement.y);
  } else {  // DLGTEMPLATE
    std::memcpy(&placement.style, dialogTemplate, sizeof placement.style);
    std::memcpy(&placement.x, dialogTemplate + 10, sizeof placement.x);
    std::memcpy(&placement.y, dialogTemplate + 12, sizeof placement.y);
  }
  return placement;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool ModifierDown() {
  return GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
}

}  // namespace

// ---- CWnd ----

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, nullptr, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::SetWindowText(const char* text) const { return ::SetWindowTextA(m_hWnd, text); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }

int CWnd::MessageBox(const char* text, const char* caption, UINT type) const {
  return ::MessageBoxA(m_hWnd, text, caption, type);
}

HWND CWnd::GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

bool CWnd::DispatchMapped(UINT message, LRESULT* result) {
  for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr; map = map->base) {
    for (const AFX_MSGMAP_ENTRY* entry = map->entries; entry->message != 0; ++entry) {
      if (entry->message != message) continue;
      m_defaultRequested = false;
      if (entry->onVoid != nullptr) {
        (this->*entry->onVoid)();
        *result = 0;
      } else {
        *result = reinterpret_cast<LRESULT>((this->*entry->onCursor)());
      }
      return !m_defaultRequested;
    }
  }
  return false;
}

// ---- CPaintDC ----

CPaintDC::CPaintDC(CWnd* window) : m_hWnd(window->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

// ---- CDialog ----

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

INT_PTR CDialog::DoModal() {
  HINSTANCE instance = AfxGetApp() != nullptr ? AfxGetApp()->m_hInstance : GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(m_templateId), MAKEINTRESOURCEA(5));
  HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
  const BYTE* dialogTemplate = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (dialogTemplate == nullptr) return -1;

  TemplatePlacement placement = ReadPlacement(dialogTemplate);
  m_templateAtOrigin = placement.x == 0 && placement.y == 0 &&
                       (placement.style & (DS_ABSALIGN | DS_CENTER | DS_CENTERMOUSE)) == 0;
  HWND parent = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
  return DialogBoxIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate), parent,
                                 &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

BOOL CDialog::OnInitDialog() {
  CDataExchange exchange;
  DoDataExchange(&exchange);
  return TRUE;
}

void CDialog::OnOK() {
  CDataExchange exchange;
  DoDataExchange(&exchange);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    dialog->m_hWnd = hwnd;
  } else {
    dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (dialog == nullptr) return FALSE;
  // No C++ exception may cross back into the system.
  try {
    return dialog->HandleMessage(message, wParam, lParam);
  } catch (...) {
    return FALSE;
  }
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return HandleInitDialog();
    case WM_COMMAND: {
      UINT id = LOWORD(wParam);
      if (id == IDOK) {
        OnOK();
      } else if (id == IDCANCEL) {
        OnCancel();
      } else if (AfxGetApp() == nullptr || !AfxGetApp()->OnCmdMsg(id)) {
        return FALSE;
      }
      return TRUE;
    }
    case WM_HELP: {
      // F1 without Shift, Ctrl or Alt becomes the help command of the main window.
      if (ModifierDown()) return TRUE;
      CWinApp* app = AfxGetApp();
      HWND main = app != nullptr && app->m_pMainWnd != nullptr ? app->m_pMainWnd->m_hWnd : m_hWnd;
      ::SendMessageA(main, WM_COMMAND, ID_HELP, 0);
      return TRUE;
    }
    case WM_NCDESTROY: {
      CWinApp* app = AfxGetApp();
      if (app != nullptr && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
      SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
      m_hWnd = nullptr;
      return FALSE;
    }
    default: {
      LRESULT result = 0;
      if (!DispatchMapped(message, &result)) return FALSE;
      // WM_QUERYDRAGICON is one of the messages whose answer a dialog procedure returns itself.
      if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
      SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
  }
}

BOOL CDialog::HandleInitDialog() {
  RECT before{};
  ::GetWindowRect(m_hWnd, &before);
  BOOL result = OnInitDialog();
  if (m_hWnd != nullptr) CenterIfUnplaced(before);
  return result;
}

// A template placed at 0, 0 without a centring style opens centred on the work
// area, unless it has an enabled owner or OnInitDialog showed or moved it.
void CDialog::CenterIfUnplaced(const RECT& before) {
  if (!m_templateAtOrigin || ::IsWindowVisible(m_hWnd)) return;
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner != nullptr && ::IsWindowEnabled(owner)) return;
  RECT now{};
  ::GetWindowRect(m_hWnd, &now);
  if (!SameRect(before, now)) return;

  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!::GetMonitorInfoA(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
  const RECT& work = monitor.rcWork;
  int width = now.right - now.left;
  int height = now.bottom - now.top;
  int left = (work.left + work.right) / 2 - width / 2;
  int top = (work.top + work.bottom) / 2 - height / 2;
  // Keep the whole dialog on the work area.
  if (left + width > work.right) left = work.right - width;
  if (left < work.left) left = work.left;
  if (top + height > work.bottom) top = work.bottom - height;
  if (top < work.top) top = work.top;
  ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- CWinApp ----

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName) { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

HICON CWinApp::LoadIcon(UINT id) const { return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(id)); }

BOOL CWinApp::OnCmdMsg(UINT id) {
  if (id != ID_HELP) return FALSE;
  OnHelp();
  return TRUE;
}

void CWinApp::OnHelp() {
  // The help file beside the program, named after it; this program ships none.
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(m_hInstance, path, sizeof path);
  if (length == 0 || length >= sizeof path - 4) return;
  char* dot = std::strrchr(path, '.');
  if (dot == nullptr || std::strchr(dot, '\\') != nullptr) dot = path + length;
  std::strcpy(dot, ".HLP");
  HWND main = m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr;
  ::WinHelpA(main, path, HELP_FINDER, 0);
}

CWinApp* AfxGetApp() { return g_app; }

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  app->m_hInstance = instance;
  if (app->InitInstance()) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return app->ExitInstance();
}

// DLLs are looked for in the system directory only, never in the program's own
// or the current directory, where a planted DLL could wait. Systems without
// SetDefaultDllDirectories still lose the current directory.
static void RestrictDllSearchToSystem() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  if (found != nullptr) {
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(found));
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  SetDllDirectoryA("");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  RestrictDllSearchToSystem();
  return AfxWinMain(instance, previous, commandLine, show);
}
