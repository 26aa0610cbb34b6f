#include "ui/update_dlg.h"

#include "platform/win32_platform.h"
#include "ui/icon_position.h"

CUpdateDlg::CUpdateDlg(CWnd* pParent)
    : CDialog(CUpdateDlg::IDD, pParent), kv::UpdateRun(kv::TheWin32Platform()) {
  m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

void CUpdateDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

BOOL CUpdateDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // The same standard-size icon serves as the big and the small one.
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  return CheckInstallation() ? TRUE : FALSE;
}

void CUpdateDlg::OnOK() { RunUpdate(); }

void CUpdateDlg::OnPaint() {
  if (IsIconic()) {
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = kv::CenteredIconOffset(rect.right - rect.left, cxIcon);
    int y = kv::CenteredIconOffset(rect.bottom - rect.top, cyIcon);
    dc.DrawIcon(x, y, m_hIcon);
  } else {
    Default();
  }
}

HCURSOR CUpdateDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

int CUpdateDlg::ShowMessage(const char* text, const char* caption, std::uint32_t style) {
  return MessageBox(text, caption, style);
}

void CUpdateDlg::ShowInstallInfo(const char* text) {
  CWnd control(GetDlgItem(IDC_INSTALL_INFO));
  control.SetWindowText(text);
}

void CUpdateDlg::CancelDialog() { OnCancel(); }

void CUpdateDlg::AcceptDialog() { CDialog::OnOK(); }
