#include "editors/FMWargr.h"

#include "editors/choicelist.h"
#include "editors/choicesave.h"
#include "editors/linefeedcombobox.h"
#include "editors/productgroups.h"
#include "factory/factory.h"
#include "main/orvanta.h"
#include "session/cacheapi.h"

#include <QHeaderView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QTimer>
#include <QTreeView>

using namespace Qt::StringLiterals;
using namespace editors::choice;

namespace {
const QString FormKey = u"FMWargr"_s;
constexpr int NumberColumn = 0;
constexpr int CheckColumn = 1;
constexpr int TextColumn = 2;
constexpr int KeyRole = Qt::UserRole;
constexpr int DesignedWidth = 660;  // 9900 twips
constexpr int DesignedHeight = 559; // 8385 twips

QStandardItem *cell(const QStandardItem *item, int column)
{
    const QStandardItem *parent = item->parent() ? item->parent() : item->model()->invisibleRootItem();
    return parent->child(item->row(), column);
}

void appendPreOrder(QStandardItem *parent, QList<QStandardItem *> &items)
{
    for (int r = 0; r < parent->rowCount(); ++r) {
        QStandardItem *item = parent->child(r, NumberColumn);
        items << item;
        appendPreOrder(item, items);
    }
}
} // namespace

FMWargr::FMWargr()
    : m_tree(new QTreeView(this)),
      m_groups(new QStandardItemModel(0, 3, this)),
      m_kunden(new LineFeedComboBox(this)),
      m_speichern(new QPushButton(u"Speichern"_s, this)),
      m_verwerfen(new QPushButton(u"Verwerfen"_s, this)),
      m_timer(new QTimer(this))
{
    setObjectName(u"FMWargr"_s);
    setWindowTitle(u"Varelo Orvanta Web - Warengruppen"_s);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    resize(DesignedWidth, DesignedHeight);

    m_tree->setObjectName(u"trwargr"_s);
    m_tree->setAccessibleName(u"Warengruppen"_s);
    m_groups->setHorizontalHeaderLabels({u"Wargr"_s, QString(), u"Bezeichnung"_s});
    m_tree->setModel(m_groups);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->header()->setMinimumSectionSize(15);
    m_tree->setColumnWidth(NumberColumn, 90);
    m_tree->setColumnWidth(CheckColumn, 15);
    m_tree->setColumnWidth(TextColumn, 200);
    m_tree->header()->setStretchLastSection(false);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setUniformRowHeights(true);
    m_tree->setGeometry(0, 0, 330, DesignedHeight);

    // The customers come as one list: a model filled at once, not one item at a time.
    m_kunden->setModel(new QStringListModel(m_kunden));
    m_kunden->setObjectName(u"likund"_s);
    m_kunden->setAccessibleName(u"Kunde"_s);
    m_kunden->setGeometry(340, 8, 310, 24);

    m_speichern->setObjectName(u"BuSpeich"_s);
    m_speichern->setAutoDefault(false);
    // Saving replaces the stored choice by the tree: only once the tree shows a list read
    // for the chosen customer, never after a failed load (that would wipe what the user
    // never saw, or give one customer another's groups).
    m_speichern->setEnabled(false);
    m_speichern->setGeometry(340, 40, 100, 28);
    m_verwerfen->setObjectName(u"BUClose"_s);
    m_verwerfen->setAutoDefault(false);
    m_verwerfen->setGeometry(448, 40, 100, 28);

    setTabOrder(m_tree, m_speichern);
    setTabOrder(m_speichern, m_verwerfen);
    setTabOrder(m_verwerfen, m_kunden);
    m_tree->setFocus();

    m_timer->setObjectName(u"Timer1"_s);
    m_timer->setSingleShot(true);
    m_timer->setInterval(1);

    connect(m_timer, &QTimer::timeout, this, &FMWargr::Timer1_Timer);
    connect(m_kunden, &QComboBox::currentIndexChanged, this, &FMWargr::likund_Change);
    connect(m_kunden, &QComboBox::activated, this, &FMWargr::likund_Click);
    connect(m_groups, &QStandardItemModel::itemChanged, this, &FMWargr::trwargr_ItemCheck);
    connect(m_speichern, &QPushButton::clicked, this, &FMWargr::BuSpeich_Click);
    connect(m_verwerfen, &QPushButton::clicked, this, &FMWargr::BUClose_Click);

    cacheapi::registerForm(this);
}

FMWargr::~FMWargr() { cacheapi::unregisterForm(this); }

void FMWargr::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void FMWargr::Form_Load()
{
    orvanta::WindowposLaden(this, FormKey);
    m_timer->start();
}

void FMWargr::Form_Unload() { orvanta::WindowposSichern(this, FormKey); }

void FMWargr::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // Outer height less 400 twips; never past the client area.
    const int ty = orvanta::twipsPerPixelY();
    const int wanted = (frameGeometry().height() * ty - 400) / ty;
    m_tree->resize(m_tree->width(), qBound(0, wanted, height()));
}

QList<QStandardItem *> FMWargr::treeItems() const
{
    QList<QStandardItem *> items;
    appendPreOrder(m_groups->invisibleRootItem(), items);
    return items;
}

QString FMWargr::itemText(const QStandardItem *item)
{
    return cell(item, NumberColumn)->text() + u'\n' + cell(item, CheckColumn)->text() + u'\n' +
           cell(item, TextColumn)->text();
}

QString FMWargr::itemKey(const QStandardItem *item) { return cell(item, NumberColumn)->data(KeyRole).toString(); }

QStandardItem *FMWargr::checkItem(const QStandardItem *item) { return cell(item, CheckColumn); }

QString FMWargr::selectedCustomer() const
{
    return m_kunden->currentIndex() < 0 ? QString() : cacheapi::Piece(m_kunden->currentText(), u"\n"_s, 2);
}

void FMWargr::Timer1_Timer()
{
    const QString source = u"FMWargr.Timer1_Timer"_s;
    m_timer->stop();
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    QStringList entries{QString()};
    try {
        cacheapi::BeginServerWork();
        factory::InstancePtr param = cacheapi::Factory->OpenId(u"orvanta.param"_s, cacheapi::Firma);
        orvanta::Dbpraefix = factory::toText(param->get(u"dbpraefix"_s));
        cacheapi::CloseObject(param);

        factory::ClassObjectPtr kunden = cacheapi::Factory->Static(orvanta::Dbpraefix + u"kunde"_s);
        const QVariant handle = kunden->call(u"getkund"_s, {cacheapi::Firma, orvanta::Dbpraefix});
        cacheapi::CloseObject(kunden);
        // No list means no customers: the general choice can still be edited.
        const QStringList records = isNoList(handle) ? QStringList() : readServerList(handle);
        for (const QString &record : records)
            entries << cacheapi::Piece(record, u"|"_s, 2) + u'\n' + cacheapi::Piece(record, u"|"_s, 1);
    } catch (...) {
        reportCurrentException(source + u" Lade Kundenliste"_s);
        cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
        return;
    }

    {
        const QSignalBlocker blocker(m_kunden);
        static_cast<QStringListModel *>(m_kunden->model())->setStringList(entries);
        m_kunden->setCurrentIndex(0);
    }
    const bool loaded = getWgrKunde(QString());
    cacheapi::EndServerWork();
    cacheapi::Trace(source, loaded ? u"Ende"_s : u"Ende mit Fehler"_s, {}, 40);
}

bool FMWargr::getWgrKunde(const QString &kunde)
{
    QList<ProductGroupRow> rows;
    try {
        cacheapi::BeginServerWork();
        factory::ClassObjectPtr wargr = cacheapi::Factory->Static(u"orvanta.wargr"_s);
        const QVariant handle = wargr->call(u"getwargr"_s, {cacheapi::Firma, kunde});
        cacheapi::CloseObject(wargr);
        if (isNoList(handle)) {
            cacheapi::EndServerWork();
            m_speichern->setEnabled(true);
            return true;
        }
        const QStringList records = readServerList(handle);
        for (const QString &record : records)
            rows << parseProductGroupRecord(record);
    } catch (...) {
        // The rows are read whole before the tree changes, so a failure leaves it intact.
        m_speichern->setEnabled(false);
        reportCurrentException(u"FMWargr.getWgrKunde Lade Warengruppen"_s);
        return false;
    }

    m_filling = true;
    m_groups->removeRows(0, m_groups->rowCount());
    // Each main group joins the model with its subgroups already beneath it: one insertion
    // a top-level row, whatever the number of subgroups.
    QList<QList<QStandardItem *>> topRows;
    QList<bool> expanded;
    QStandardItem *mainItem = nullptr;
    for (const ProductGroupRow &row : std::as_const(rows)) {
        auto *number = new QStandardItem(row.ownNumber());
        number->setData(row.key(), KeyRole);
        auto *box = new QStandardItem;
        box->setCheckable(true);
        box->setCheckState(row.ticked() ? Qt::Checked : Qt::Unchecked);
        auto *text = new QStandardItem(row.description);
        const QList<QStandardItem *> cells{number, box, text};
        for (QStandardItem *c : cells)
            c->setEditable(false);
        // A subgroup goes beneath the main group before it; one without any stays on top.
        if (!row.isMainGroup() && mainItem) {
            mainItem->appendRow(cells);
            continue;
        }
        if (row.isMainGroup())
            mainItem = number;
        topRows.append(cells);
        expanded.append(row.expanded());
    }
    for (qsizetype i = 0; i < topRows.size(); ++i) {
        m_groups->appendRow(topRows[i]);
        if (expanded[i])
            m_tree->expand(topRows[i].first()->index());
    }
    m_filling = false;
    m_speichern->setEnabled(true);
    cacheapi::EndServerWork();
    return true;
}

void FMWargr::likund_Change(int index)
{
    const QString text = index < 0 ? QString() : m_kunden->itemText(index);
    getWgrKunde(cacheapi::Piece(text, u"\n"_s, 2));
}

void FMWargr::likund_Click() { getWgrKunde(selectedCustomer()); }

// A main group and its subgroups are never ticked together: ticking the whole group clears
// the single subgroups, ticking a subgroup clears the whole group.
void FMWargr::trwargr_ItemCheck(QStandardItem *changed)
{
    if (m_filling || changed->column() != CheckColumn || changed->checkState() == Qt::Unchecked)
        return;
    const QList<QStandardItem *> items = treeItems();
    QStandardItem *item = cell(changed, NumberColumn);
    const qsizetype index = items.indexOf(item);
    const QString key = itemKey(item);
    const QString mainGroup = keyMainGroup(key);

    if (factory::toNumber(keySubGroup(key)) != 0) {
        const QString mainKey = mainGroup + u"|0"_s;
        for (qsizetype i = index - 1; i >= 0; --i) {
            if (itemKey(items[i]) == mainKey) {
                checkItem(items[i])->setCheckState(Qt::Unchecked);
                break;
            }
        }
        return;
    }

    for (qsizetype i = index + 1; i < items.size(); ++i) {
        if (keyMainGroup(itemKey(items[i])) != mainGroup)
            break;
        checkItem(items[i])->setCheckState(Qt::Unchecked);
    }
    m_tree->collapse(item->index());
}

void FMWargr::BuSpeich_Click()
{
    const QString source = u"FMWargr.BuSpeich_Click"_s;
    cacheapi::Trace(source, u"Start"_s, {}, 40);

    struct Group
    {
        QString number, text;
    };
    const QString kunde = selectedCustomer();
    QList<Group> groups;
    const QList<QStandardItem *> items = treeItems();
    for (const QStandardItem *item : items)
        if (checkItem(item)->checkState() != Qt::Unchecked)
            groups.append({numwarengruppe(itemKey(item)), cell(item, TextColumn)->text()});

    const bool saved = saveInTransaction(source + u" Speichere Warengruppen"_s, [&] {
        factory::ClassObjectPtr wargr = cacheapi::Factory->Static(u"orvanta.wargr"_s);
        wargr->call(u"Delete"_s, {cacheapi::Firma, kunde});
        cacheapi::CloseObject(wargr);
        for (const Group &group : std::as_const(groups)) {
            factory::InstancePtr object = cacheapi::Factory->New(u"orvanta.wargr"_s);
            object->set(u"Firma"_s, cacheapi::Firma);
            object->set(u"numwarengruppe"_s, group.number);
            object->set(u"txtwarengruppe"_s, group.text);
            object->set(u"numkunde"_s, kunde);
            object->sys_Save();
            cacheapi::CloseObject(object);
        }
    });
    if (!saved) {
        // The window stays open with the user's ticks, so the save can be tried again.
        cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
        return;
    }
    cacheapi::Trace(source, u"Ende"_s, {}, 40);
    accept();
}

void FMWargr::BUClose_Click() { reject(); }
