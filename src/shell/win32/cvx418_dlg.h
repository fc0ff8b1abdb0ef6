#pragma once

// The main dialog on Windows (included through cvx418_dlg.h): the same members and operations
// as the Qt dialog, on the Win32 controls of dialog template 102 (res/vx418.rc).

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "shell/dialog_controls.h"

class CImageList;
struct HICON__;

// The main dialog (template 102). Owns one wrapper per control; every other layer reaches the
// controls through these members. Commands raised by the controls go to the dispatcher that
// the application layer hands in.
//
// The window is made from the template, hidden, when the object is made; the thread that
// makes it is the window thread and must run DoModal.
class CVX418Dlg : public DialogControls {
  public:
    using CommandHandler = std::function<void(int command)>;

    explicit CVX418Dlg(CommandHandler dispatch);
    ~CVX418Dlg();
    CVX418Dlg(const CVX418Dlg&) = delete;
    CVX418Dlg& operator=(const CVX418Dlg&) = delete;

    // Any control by id, also the static labels without a member; nullptr for an unknown id.
    CWnd* GetDlgItem(int id);

    // Dialog initialisation: the About item of the system menu, the tree image list, the window
    // icons, then command 0. Runs once, before the dialog is shown; CreateMainDialog does it.
    bool OnInitDialog();

    // Appends finished text (whole lines with their CR LF) to the Log pane from any thread.
    // On the window thread it is appended at once; from another thread it is queued and
    // appended by the window thread later, so the caller never waits for the window. Texts
    // reach the pane whole and in the order of the calls.
    void AppendLogText(std::string text);

    // Shows the dialog and runs the window thread's messages until Escape or the close box ends
    // it (or EndDialog); returns the result, IDCANCEL for those two.
    int DoModal();
    // Hides the dialog and ends DoModal with result. The window itself stays until the object
    // goes: detached workers may still reach its controls.
    void EndDialog(int result);

    NativeControl GetSafeHwnd() const { return m_hWnd; }

    // The icon and the tree image list; the control wrappers are DialogControls' members.
    HICON__* m_hIcon = nullptr;
    std::unique_ptr<CImageList> m_pImageList;

  private:
    struct Window;  // the dialog procedure and message handlers (cvx418_dlg.cpp)
    friend struct Window;

    void BindControls();
    void Raise(int command);
    void DrainLog();

    CommandHandler dispatch_;
    NativeControl m_hWnd = nullptr;
    std::map<int, CWnd*> controls_;               // id -> wrapper, members and others
    std::vector<std::unique_ptr<CWnd>> unnamed_;  // wrappers of controls without a member
    std::mutex logMutex_;                         // guards the two below
    std::string pendingLog_;                      // queued by other threads
    bool drainPosted_ = false;
    bool ended_ = false;
    int result_ = 0;
};
