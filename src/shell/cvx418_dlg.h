#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/controls.h"
#include "platform/image_list.h"
#include "platform/native_types.h"
#include "shell/dialog_controls.h"

// The main dialog (template 102). Owns one wrapper per control; every other layer reaches the
// controls through these members. Commands raised by the controls go to the dispatcher that
// the application layer hands in.
//
// The window is made, hidden, with the object; the thread that makes it is the window thread
// and runs DoModal. Its toolkit's half is a private part (shell/qt/, shell/win32/); what both
// front ends share (the controls by id, the commands, the Log pane's queue) is cvx418_dlg.cpp.
class CVX418Dlg : public DialogControls {
  public:
    using CommandHandler = std::function<void(Command command)>;

    explicit CVX418Dlg(CommandHandler dispatch);
    ~CVX418Dlg();
    CVX418Dlg(const CVX418Dlg&) = delete;
    CVX418Dlg& operator=(const CVX418Dlg&) = delete;

    // Any control by id, also the static labels without a member; nullptr for an unknown id.
    CWnd* GetDlgItem(int id);

    // Dialog initialisation: the About item, the tree image list, the window icon, then
    // command 0. Runs once, before the dialog is shown; CreateMainDialog does it.
    bool OnInitDialog();

    // Appends finished text (whole lines with their CR LF) to the Log pane from any thread.
    // On the window thread it is appended at once; from another thread it is queued and
    // appended by the window thread later, so the caller never waits for the window. Texts
    // reach the pane whole and in the order of the calls.
    void AppendLogText(std::string text);

    // Shows the dialog and runs the window thread until Escape or the close box ends it (or
    // EndDialog); returns the result, IDCANCEL for those two. The dialog is not modal to the
    // message boxes that workers open: they stay usable beside it.
    int DoModal();
    // Hides the dialog and ends DoModal with result. The window itself stays until the object
    // goes: detached workers may still reach its controls.
    void EndDialog(int result);

    // The dialog's own window (a QDialog, or an HWND on Windows), for what only its toolkit
    // does with it.
    NativeDialog GetSafeHwnd() const;

    // The tree image list; the control wrappers are DialogControls' members.
    std::unique_ptr<CImageList> m_pImageList;

  private:
    struct Window;  // the toolkit's half: the window, its notifications, its icons
    struct WindowDeleter {
        void operator()(Window* window) const;
    };
    friend struct Window;

    // The toolkit's part of OnInitDialog: the About item, the tree images, the window icon.
    void InitWindow();
    bool OnWindowThread() const;
    // Asks the window thread to run DrainLog; false when the window refused.
    bool PostDrainLog();

    // The toolkit hands over the dialog's controls with their ids, once, as the window is made.
    void BindControls(const std::vector<std::pair<int, NativeControl>>& children);
    void Raise(Command command);
    void DrainLog();

    CommandHandler dispatch_;
    std::map<int, CWnd*> controls_;               // id -> wrapper, members and others
    std::vector<std::unique_ptr<CWnd>> unnamed_;  // wrappers of controls without a member
    std::mutex logMutex_;                         // guards the two below
    std::string pendingLog_;                      // queued by other threads
    bool drainPosted_ = false;
    // Last, so it goes first: no notification of the window reaches a half-destroyed dialog.
    std::unique_ptr<Window, WindowDeleter> window_;
};
