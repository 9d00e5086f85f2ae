// The About box: the dialog template IDD_ABOUTBOX, with nothing of its own to serve.
#pragma once

#include "app/Dialog.h"
#include "res/resource.h"  // IDD_ABOUTBOX

class CAboutDlg : public CDialog {
  public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
};
