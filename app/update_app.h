// The application object: runs the confirmation dialog once, then ends.
#pragma once

#include "platform/afxwin.h"

class CUpdateApp : public CWinApp {
 public:
  CUpdateApp() = default;
  BOOL InitInstance() override;
};
