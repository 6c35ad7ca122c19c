#pragma once
// The start and main window: signs the user in, offers the tenants, the batch jobs of the
// tenant's interface mode and the configuration editors.

#include "session/forms.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolBar;

class FMStart final : public QMainWindow, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMStart)
public:
    // Toolbar buttons by number.
    enum ToolButton { Warengruppen = 1, Artikeltypen, Kunden, Negativliste, Parameter, Beenden, Stapellaeufe };

    explicit FMStart(QWidget *parent = nullptr);
    ~FMStart() override;

    // Signs in (repeating until it succeeds), then fills the tenants and applies the mode.
    // False when the program ended meanwhile (the sign-in was cancelled).
    bool Form_Load();
    void Form_Unload() override;

    static QString signedInCaption();
    QAction *toolButton(int number) const;

    // The two selection notifications of the tenant combo.
    void limandant_ItemSelected(int index); // carries the index
    void limandant_Click();                 // takes the current selection

    void applyMode(int toolButtonNumber);
    void tool1_ButtonClick(int number);

    void BUArtikel_Click();
    void BUKond_Click();
    void BUFrei_Click();
    void BUftpaufbau_Click();
    void BUBmecat_Click();

    void mLogin_Click();
    void mStapel_Click();
    void Beenden_Click();
    void HilfeUeber_Click();
    void mProgrammverlauf_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void buildToolbar();
    void fillTenants();
    void selectTenant(int index, const QString &handler);
    bool runFrameJob(QPushButton *button, const QString &handler, const std::function<void()> &job);
    // The server took a job: say so in the status bar and show it in an open monitor.
    void announceJob(const QString &caption);
    void clearStatusOnNextAction();
    template <class T> void showEditor();
    void unloadLater();

    QLabel *m_Label1 = nullptr;
    QComboBox *m_limandant = nullptr;
    QGroupBox *m_frserver = nullptr;
    QGroupBox *m_frftp = nullptr;
    QPushButton *m_BUArtikel = nullptr;
    QPushButton *m_BUKond = nullptr;
    QPushButton *m_BUFrei = nullptr;
    QPushButton *m_BUftpaufbau = nullptr;
    QPushButton *m_BUBmecat = nullptr;
    QToolBar *m_tool1 = nullptr;
    QList<QAction *> m_toolButtons; // numbers 1 to 6
    int m_justSelected = -1;        // index a user's pick already applied
    bool m_filling = false;
};
