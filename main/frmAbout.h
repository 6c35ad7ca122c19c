#pragma once
// The about box: title, version, the maker's links and the way to the system information.

#include "session/forms.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace orvanta {
QString appTitle();   // "Orvanta Web Admin"
QString versionText(); // major.minor.patch of this build
} // namespace orvanta

class frmAbout final : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAbout)
public:
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

    void Form_Load();
    void Form_Unload() override {}

public Q_SLOTS:
    void reject() override; // Esc and the close box do what "OK" does

private:
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void unloadLater();

    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblVersion = nullptr;
    QLabel *m_lblDescription = nullptr;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdSysInfo = nullptr;
};
