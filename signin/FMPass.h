#pragma once
// The sign-in dialog: password and working location, the way to the server list, and the
// end of the program when the user cancels.

#include "session/forms.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

class FMPass final : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMPass)
public:
    explicit FMPass(QWidget *parent = nullptr);
    ~FMPass() override;

    bool KeinDefaultEintrag() const;
    void Form_Unload() override;

    void BUSpeich_Click();
    void BUAusst_Click();
    void cmdServer_Click();
    void selectPassword(); // after a refused password

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override; // Esc does nothing: sign in or cancel

private:
    void Form_Load();
    void Form_Activate();
    void fillLocations(const QString &list);
    void co_standort_Click(int index);
    void showFields();

    QComboBox *m_standort;
    QLineEdit *m_passwort, *m_user;
    QPushButton *m_server, *m_anmelden, *m_abbruch;
    bool m_activating = false;
};

namespace signin {
// The sign-in exit action without loading the dialog: the program ends.
void signInExit();
} // namespace signin
