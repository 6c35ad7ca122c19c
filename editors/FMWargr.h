#pragma once
// The product groups released to the web interface, as the general choice of the tenant
// and per trade customer: a tree of main groups and subgroups with one check box each.

#include "session/forms.h"

#include <QDialog>

class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTimer;
class QTreeView;

namespace editors::choice { class LineFeedComboBox; }

class FMWargr final : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMWargr)

public:
    FMWargr();
    ~FMWargr() override;

    // Fills the tree with the product groups of that customer; "" is the general choice.
    // A customer without a list leaves the tree as it was. False when the server failed
    // (reported already).
    bool getWgrKunde(const QString &kunde);

    // The tree's items (their number column) from the first to the last, subgroups after
    // their main group.
    QList<QStandardItem *> treeItems() const;
    // Columns of an item's row joined by line feeds: number, "", description.
    static QString itemText(const QStandardItem *item);
    static QString itemKey(const QStandardItem *item);
    // The cell of the item's row that carries its check box.
    static QStandardItem *checkItem(const QStandardItem *item);

    void Form_Unload() override;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void Form_Load();
    void Timer1_Timer();
    void likund_Change(int index);
    void likund_Click();
    void trwargr_ItemCheck(QStandardItem *changed);
    void BuSpeich_Click();
    void BUClose_Click();
    QString selectedCustomer() const;

    QTreeView *m_tree;
    QStandardItemModel *m_groups;
    editors::choice::LineFeedComboBox *m_kunden;
    QPushButton *m_speichern;
    QPushButton *m_verwerfen;
    QTimer *m_timer;
    bool m_loaded = false;
    bool m_filling = false; // the tree is being filled: its check changes are no user ticks
};
