#pragma once

#ifdef _WIN32
// The Windows front end: the same class and members on the Win32 controls.
#include "shell/cvx418_dlg_win.h"
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
#include "shell/control_ids.h"

class CImageList;
namespace Ui {
class CVX418Dlg;
}

// The main dialog (template 102). Owns one wrapper per control; every other layer reaches the
// controls through these members. Commands raised by the controls go to the dispatcher that
// the application layer hands in.
class CVX418Dlg : public QDialog {
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

    // Members in declaration order.
    QIcon* m_hIcon = nullptr;
    std::unique_ptr<CImageList> m_pImageList;
    CComboBox m_Backup1Picker;       // 1013
    CComboBox m_Backup2Picker;       // 1014
    CButton m_AddBackup1Button;      // 1016
    CButton m_AddBackup2Button;      // 1017
    CEdit m_LogPane;                 // 1018
    CButton m_RefreshButton;         // 1003
    CButton m_DeleteReceiverButton;  // 1004
    CButton m_ChangeNameButton;      // 1006
    CButton m_ChangeIpButton;        // 1009
    CButton m_ChangeTopologyButton;  // 1022
    CButton m_AddConnectButton;      // 1015
    CComboBox m_ConnectPicker;       // 1012
    CTreeCtrl m_ConnectionsTree;     // 1002
    CTreeCtrl m_AvailableTree;       // 1010
    CEdit m_NameEdit;                // 1005
    CEdit m_IpEdit;                  // 1008
    CEdit m_MacEdit;                 // 1007
    CComboBox m_TopologyCombo;       // 1021
    CComboBox m_AdapterCombo;        // 1024

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
