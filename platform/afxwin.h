// A minimal dialog-application framework in the usual shape: an application
// object found by the entry point, a modal dialog driven by virtual hooks and a
// message map, and window helpers. It provides only what the launcher uses.
#pragma once

#include <windows.h>

class CWnd;
class CWinApp;
class CDataExchange {};

// Message maps: a table of handlers per class, chained to the base class's.
struct AFX_MSGMAP_ENTRY {
  UINT message;
  void (CWnd::*onVoid)();     // WM_PAINT
  HCURSOR (CWnd::*onCursor)();  // WM_QUERYDRAGICON
};
struct AFX_MSGMAP {
  const AFX_MSGMAP* base;
  const AFX_MSGMAP_ENTRY* entries;  // ends with message 0
};

#define DECLARE_MESSAGE_MAP()                         \
 protected:                                           \
  static const AFX_MSGMAP* GetThisMessageMap();       \
  const AFX_MSGMAP* GetMessageMap() const override;   \
                                                      \
 private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
    typedef theClass ThisClass;                                                     \
    typedef baseClass TheBaseClass;                                                 \
    static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                 \
  {0, nullptr, nullptr}};                                                 \
  static const AFX_MSGMAP map = {TheBaseClass::GetThisMessageMap(), entries}; \
  return &map;                                                            \
  }

#define ON_WM_PAINT() {WM_PAINT, static_cast<void (CWnd::*)()>(&ThisClass::OnPaint), nullptr},
#define ON_WM_QUERYDRAGICON() \
  {WM_QUERYDRAGICON, nullptr, static_cast<HCURSOR (CWnd::*)()>(&ThisClass::OnQueryDragIcon)},

class CWnd {
 public:
  CWnd() = default;
  explicit CWnd(HWND hwnd) : m_hWnd(hwnd) {}
  virtual ~CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL SetWindowText(const char* text) const;
  BOOL IsIconic() const;
  void GetClientRect(RECT* rect) const;
  // A message box owned by this window; returns the user's answer.
  int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK) const;
  // The dialog control with the given identifier (a window of this one).
  HWND GetDlgItem(int id) const;

  HWND m_hWnd = nullptr;

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
  // Asks for the window's default processing of the message being handled.
  void Default() { m_defaultRequested = true; }
  // Runs the message map; true when a handler took the message.
  bool DispatchMapped(UINT message, LRESULT* result);

  bool m_defaultRequested = false;
};

// Paints between BeginPaint and EndPaint for as long as it lives.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* window);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  HDC GetSafeHdc() const { return m_hDC; }
  BOOL DrawIcon(int x, int y, HICON icon) const { return ::DrawIcon(m_hDC, x, y, icon); }

 private:
  HWND m_hWnd;
  PAINTSTRUCT m_ps{};
  HDC m_hDC;
};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override = default;

  // Runs the dialog modally: IDOK, IDCANCEL, or -1 when the template cannot be
  // loaded or the window cannot be created. Returns once the window is gone.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

 protected:
  virtual void DoDataExchange(CDataExchange*) {}

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  BOOL HandleInitDialog();
  void CenterIfUnplaced(const RECT& before);

  UINT m_templateId;
  CWnd* m_pParentWnd;
  bool m_templateAtOrigin = false;
};

class CWinApp {
 public:
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Start-up work; FALSE ends the process without a message loop.
  virtual BOOL InitInstance() { return FALSE; }
  // Its result becomes the process exit status.
  virtual int ExitInstance() { return 0; }

  // A request for 3-D controls: on Windows 4.0 and later there is nothing to do.
  BOOL Enable3dControlsStatic() { return TRUE; }
  HICON LoadIcon(UINT id) const;
  // Commands that no window handled; the only one is ID_HELP.
  BOOL OnCmdMsg(UINT id);
  // The application's help for its main window. This program has no help
  // content of its own, so it asks the system's help for the default topic.
  void OnHelp();

  const char* m_pszAppName;
  HINSTANCE m_hInstance = nullptr;
  CWnd* m_pMainWnd = nullptr;
};

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

// The one application object, registered by its constructor.
CWinApp* AfxGetApp();
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
