// The confirmation dialog: the framework's modal dialog wired to the
// installation check (while it initialises) and to the update run (on Yes).
#pragma once

#include "platform/afxwin.h"
#include "res/resource.h"
#include "update/update_run.h"

class CUpdateDlg : public CDialog, public kv::UpdateRun {
 public:
  explicit CUpdateDlg(CWnd* pParent = nullptr);

  enum { IDD = IDD_UPDATE_DIALOG };

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnPaint();
  HCURSOR OnQueryDragIcon();

  // Hooks of the logic, answered by the framework.
  int ShowMessage(const char* text, const char* caption, std::uint32_t style) override;
  void ShowInstallInfo(const char* text) override;
  void CancelDialog() override;
  void AcceptDialog() override;

  HICON m_hIcon;

  DECLARE_MESSAGE_MAP()
};
