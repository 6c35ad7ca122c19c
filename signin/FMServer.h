#pragma once
// The server connection list: picks a stored connection entry, edits it on the default
// server and stores the chosen entry as this workstation's default connection. Its fields
// show and edit the session's working copy of the connection data (ConnectionFields).

#include "session/forms.h"

#include <QDialog>

class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

class FMServer final : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMServer)
public:
    explicit FMServer(QWidget *parent = nullptr);
    ~FMServer() override;

    int CurrentId() const;
    void Sichern();
    void Form_Unload() override {}

    // Handlers, public so the pop-up menu can be driven without its popup loop.
    void ctList_Click();
    void BUEdit_Click();
    void mRechts_Click(int index);
    void Lock_Timer();
    QTimer *Lock() const { return m_lock; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override; // Esc behaves like "Zurück"
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    void loadEntries();
    void showFields();
    void setEditing(bool editing);
    bool saveEntry();

    QTreeWidget *m_list;
    QLineEdit *m_serverIp, *m_port, *m_firma, *m_fil, *m_wj, *m_namespace;
    QPushButton *m_edit, *m_back;
    QMenu *m_popup;
    QTimer *m_lock;
    bool m_editing = false;
};
