#pragma once
// The article types the web interface takes over: a list with one check box per type.

#include "session/forms.h"

#include <QDialog>

class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

class FMAtyp final : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMAtyp)

public:
    FMAtyp();
    ~FMAtyp() override;

    // Columns of an item joined by line feeds: the code, then three blanks and the description.
    static QString itemText(const QTreeWidgetItem *item);
    static QString itemCode(const QTreeWidgetItem *item); // the item data

    void Form_Unload() override;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void Form_Load();
    void Timer1_Timer();
    void BuSpeich_Click();
    void BUClose_Click();

    QTreeWidget *m_list;
    QPushButton *m_speichern;
    QPushButton *m_verwerfen;
    QTimer *m_timer;
    bool m_loaded = false;
};
