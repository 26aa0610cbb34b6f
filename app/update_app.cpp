#include "app/update_app.h"

#include "ui/update_dlg.h"

// The one application object, found by the entry point.
CUpdateApp theApp;

BOOL CUpdateApp::InitInstance() {
  Enable3dControlsStatic();
  CUpdateDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  // No message loop follows the dialog: the process ends here whatever it answered.
  return FALSE;
}
