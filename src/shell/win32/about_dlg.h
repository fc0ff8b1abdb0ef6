#pragma once

// The About box on Windows (dialog template 100). (about_dlg.h is the Qt one.)

struct HWND__;

class CAboutDlg {
  public:
    // Shows the box modally over parent until OK, Escape or its close box ends it.
    int DoModal(HWND__* parent);
};
