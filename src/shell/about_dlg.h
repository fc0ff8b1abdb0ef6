#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CAboutDlg;
}

// The text of the About item in the dialog's background menu.
inline constexpr const char* kAboutMenuText = "&About VX418...";

// The About box (template 100). Created on the stack each time it is shown.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

  private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
};
