#include "editors/FMAtyp.h"

#include "editors/choicelist.h"
#include "editors/choicesave.h"
#include "factory/factory.h"
#include "main/orvanta.h"
#include "session/cacheapi.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cmath>

using namespace Qt::StringLiterals;
using namespace editors::choice;

namespace {
const QString FormKey = u"FMAtyp"_s;
constexpr int CodeColumn = 0;
constexpr int CheckColumn = 1;
constexpr int CodeRole = Qt::UserRole;
constexpr int DesignedWidth = 445;  // 6675 twips
constexpr int DesignedHeight = 274; // 4110 twips

struct ArticleType
{
    QString code, description;
    Qt::CheckState state = Qt::Unchecked;
};

ArticleType parseArticleTypeRecord(const QString &record)
{
    ArticleType type;
    type.code = cacheapi::Piece(record, u"|"_s, 1);
    type.description = cacheapi::Piece(record, u"|"_s, 2);
    // A whole number, rounded half to even; any positive value ticks the box.
    const double flag = std::nearbyint(factory::toNumber(cacheapi::Piece(record, u"|"_s, 3)));
    type.state = flag > 0 ? Qt::Checked : Qt::Unchecked;
    return type;
}
} // namespace

FMAtyp::FMAtyp()
    : m_list(new QTreeWidget(this)),
      m_speichern(new QPushButton(u"Speichern"_s, this)),
      m_verwerfen(new QPushButton(u"Verwerfen"_s, this)),
      m_timer(new QTimer(this))
{
    setObjectName(u"FMAtyp"_s);
    setWindowTitle(u"Varelo Orvanta Web - Artikeltypen"_s);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    resize(DesignedWidth, DesignedHeight);

    m_list->setObjectName(u"liatyp"_s);
    m_list->setAccessibleName(u"Artikeltypen"_s);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({u"Code"_s, u"     Bezeichnung"_s});
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setMinimumSectionSize(15);
    m_list->setColumnWidth(CodeColumn, 35);
    m_list->setColumnWidth(CheckColumn, 200);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformRowHeights(true);
    m_list->setGeometry(0, 0, 270, DesignedHeight);

    m_speichern->setObjectName(u"BuSpeich"_s);
    m_speichern->setAutoDefault(false);
    // Saving replaces the stored choice by the list: not before the list was read, so a
    // failed load cannot wipe the choice.
    m_speichern->setEnabled(false);
    m_speichern->setGeometry(290, 8, 140, 28);
    m_verwerfen->setObjectName(u"BUClose"_s);
    m_verwerfen->setAutoDefault(false);
    m_verwerfen->setGeometry(290, 44, 140, 28);

    setTabOrder(m_verwerfen, m_speichern);
    setTabOrder(m_speichern, m_list);
    m_verwerfen->setFocus();

    m_timer->setObjectName(u"Timer1"_s);
    m_timer->setSingleShot(true);
    m_timer->setInterval(1);

    connect(m_timer, &QTimer::timeout, this, &FMAtyp::Timer1_Timer);
    connect(m_speichern, &QPushButton::clicked, this, &FMAtyp::BuSpeich_Click);
    connect(m_verwerfen, &QPushButton::clicked, this, &FMAtyp::BUClose_Click);

    cacheapi::registerForm(this);
}

FMAtyp::~FMAtyp() { cacheapi::unregisterForm(this); }

void FMAtyp::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void FMAtyp::Form_Load()
{
    orvanta::WindowposLaden(this, FormKey);
    m_timer->start();
}

void FMAtyp::Form_Unload() { orvanta::WindowposSichern(this, FormKey); }

void FMAtyp::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // Outer height less 400 twips; never past the client area.
    const int ty = orvanta::twipsPerPixelY();
    const int wanted = (frameGeometry().height() * ty - 400) / ty;
    m_list->resize(m_list->width(), qBound(0, wanted, height()));
}

QString FMAtyp::itemText(const QTreeWidgetItem *item)
{
    return item->text(CodeColumn) + u'\n' + item->text(CheckColumn);
}

QString FMAtyp::itemCode(const QTreeWidgetItem *item) { return item->data(CodeColumn, CodeRole).toString(); }

void FMAtyp::Timer1_Timer()
{
    const QString source = u"FMAtyp.Timer1_Timer"_s;
    m_timer->stop();
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    QList<ArticleType> types;
    try {
        cacheapi::BeginServerWork();
        factory::ClassObjectPtr atyp = cacheapi::Factory->Static(u"orvanta.atyp"_s);
        const QVariant handle = atyp->call(u"getatyp"_s, {cacheapi::Firma});
        cacheapi::CloseObject(atyp);
        if (isNoList(handle)) {
            m_speichern->setEnabled(true);
            cacheapi::EndServerWork();
            cacheapi::Trace(source, u"Ende"_s, {}, 40);
            return;
        }
        const QStringList records = readServerList(handle);
        for (const QString &record : records)
            types << parseArticleTypeRecord(record);
    } catch (...) {
        reportCurrentException(source + u" Lade Artikeltypen"_s);
        cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
        return;
    }

    m_list->clear();
    for (const ArticleType &type : std::as_const(types)) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(CodeColumn, type.code);
        item->setText(CheckColumn, u"   "_s + type.description);
        item->setCheckState(CheckColumn, type.state);
        item->setData(CodeColumn, CodeRole, type.code);
    }
    m_speichern->setEnabled(true);
    cacheapi::EndServerWork();
    cacheapi::Trace(source, u"Ende"_s, {}, 40);
}

void FMAtyp::BuSpeich_Click()
{
    const QString source = u"FMAtyp.BuSpeich_Click"_s;
    cacheapi::Trace(source, u"Start"_s, {}, 40);

    QStringList codes;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_list->topLevelItem(i);
        if (item->checkState(CheckColumn) != Qt::Unchecked)
            codes << itemCode(item);
    }

    const bool saved = saveInTransaction(source + u" Speichere Artikeltypen"_s, [&] {
        factory::ClassObjectPtr atyp = cacheapi::Factory->Static(u"orvanta.atyp"_s);
        atyp->call(u"Delete"_s, {cacheapi::Firma});
        cacheapi::CloseObject(atyp);
        for (const QString &code : std::as_const(codes)) {
            factory::InstancePtr object = cacheapi::Factory->New(u"orvanta.atyp"_s);
            object->set(u"Firma"_s, cacheapi::Firma);
            object->set(u"atyp"_s, code);
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

void FMAtyp::BUClose_Click() { reject(); }
