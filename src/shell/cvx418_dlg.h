#pragma once

#ifdef _WIN32
// The Windows front end: the same class and members on the Win32 controls.
#include "shell/win32/cvx418_dlg.h"
#else

#include <QDialog>
#include <QIcon>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "shell/dialog_controls.h"

class CImageList;
namespace Ui {
class CVX418Dlg;
}

// The main dialog (template 102). Owns one wrapper per control; every other layer reaches the
// controls through these members. Commands raised by the controls go to the dispatcher that
// the application layer hands in.
class CVX418Dlg : public QDialog, public DialogControls {
    Q_OBJECT
  public:
    using CommandHandler = std::function<void(int command)>;

    explicit CVX418Dlg(CommandHandler dispatch, QWidget* parent = nullptr);
    ~CVX418Dlg() override;

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

    // The icon and the tree image list; the control wrappers are DialogControls' members.
    QIcon* m_hIcon = nullptr;
    std::unique_ptr<CImageList> m_pImageList;

  protected:
    // The background menu stands in for the window menu, which Qt cannot extend here.
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BindControls();
    void ConnectCommands();
    void StyleGroupBoxes();
    void Raise(int command);
    void DrainLog();

    CommandHandler dispatch_;
    std::unique_ptr<Ui::CVX418Dlg> ui_;
    QIcon appIcon_;
    std::map<int, CWnd*> controls_;                // id -> wrapper, members and others
    std::vector<std::unique_ptr<CWnd> > unnamed_;  // wrappers of controls without a member
    std::mutex logMutex_;                          // guards the two below
    std::string pendingLog_;                       // queued by other threads
    bool drainPosted_ = false;
};

#endif  // _WIN32
