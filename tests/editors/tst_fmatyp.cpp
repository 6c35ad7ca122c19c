// The article-type window against a seeded server: the list as loaded, saving with and
// without ticks, the stored code taken from the item data, a save refused half-way.
#include "editors/FMAtyp.h"
#include "factory/factory.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "tests/support/sessionfixture.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
// The widget Tab moves to from w: the next one in the focus chain that takes tab focus.
QWidget *nextTabStop(QWidget *w)
{
    for (QWidget *n = w->nextInFocusChain(); n != w; n = n->nextInFocusChain())
        if ((n->focusPolicy() & Qt::TabFocus) && n->isVisibleTo(n->window()) && n->isEnabled())
            return n;
    return w;
}
} // namespace

class tst_FMAtyp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadsTypesWithChoice();
    void savesTickedTypes();
    void savingNothingTickedDeletes();
    void storedCodeIsItemData();
    void refusedTypeLeavesStoredChoice();
    void noListShowsEmptyList();

private:
    void openWindow();
    QTreeWidgetItem *item(const QString &code) const;
    QStringList storedTypes();
    void save();

    std::unique_ptr<SessionFixture> m_fx;
    FMAtyp *m_window = nullptr;
    QTreeWidget *m_list = nullptr;
};

void tst_FMAtyp::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_FMAtyp::cleanup()
{
    m_window = nullptr;
    m_list = nullptr;
    m_fx.reset();
}

void tst_FMAtyp::openWindow()
{
    m_window = cacheapi::form<FMAtyp>();
    m_list = m_window->findChild<QTreeWidget *>(u"liatyp"_s);
    m_window->show();
}

QTreeWidgetItem *tst_FMAtyp::item(const QString &code) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (FMAtyp::itemCode(m_list->topLevelItem(i)) == code)
            return m_list->topLevelItem(i);
    return nullptr;
}

// The tenant's stored choice as the server lists it, through a connection of its own.
QStringList tst_FMAtyp::storedTypes()
{
    factory::Factory &probe = m_fx->probe();
    const QVariant handle = probe.Static(u"orvanta.atyp"_s)->call(u"getatyp"_s, {u"1"_s});
    const factory::ResultSetPtr rows = probe.ResultSet(u"VR.XW"_s, u"Liste"_s);
    rows->Execute({handle});
    QStringList codes;
    while (rows->Next()) {
        const QString record = factory::toText(rows->GetData(1));
        if (cacheapi::Piece(record, u"|"_s, 3) == u"1")
            codes << cacheapi::Piece(record, u"|"_s, 1);
    }
    rows->Close();
    return codes;
}

void tst_FMAtyp::save() { QTest::mouseClick(m_window->findChild<QPushButton *>(u"BuSpeich"_s), Qt::LeftButton); }

void tst_FMAtyp::loadsTypesWithChoice()
{
    openWindow();
    QCOMPARE(m_window->windowTitle(), u"Varelo Orvanta Web - Artikeltypen"_s);
    QCOMPARE(m_window->size(), QSize(445, 274));
    auto *timer = m_window->findChild<QTimer *>(u"Timer1"_s);
    QVERIFY(timer && timer->isSingleShot());
    QCOMPARE(timer->interval(), 1);
    QTRY_VERIFY(m_list->topLevelItemCount() > 0);
    QVERIFY(m_list->topLevelItemCount() >= 5);
    QCOMPARE(m_fx->boxes().count(), 0);

    QCOMPARE(m_list->headerItem()->text(0), u"Code"_s);
    QCOMPARE(m_list->headerItem()->text(1), u"     Bezeichnung"_s);
    QCOMPARE(m_list->columnWidth(0), 35);
    QCOMPARE(m_list->columnWidth(1), 200);

    QTreeWidgetItem *normal = item(u"N"_s);
    QVERIFY(normal);
    QCOMPARE(FMAtyp::itemText(normal), u"N\n   Normalartikel"_s);
    QCOMPARE(normal->checkState(1), Qt::Checked);
    QCOMPARE(FMAtyp::itemText(item(u"S"_s)), u"S\n   Sonderartikel"_s);
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *it = m_list->topLevelItem(i);
        QCOMPARE(it->text(0), FMAtyp::itemCode(it));
        if (it != normal)
            QCOMPARE(it->checkState(1), Qt::Unchecked);
    }

    auto *speichern = m_window->findChild<QPushButton *>(u"BuSpeich"_s);
    auto *verwerfen = m_window->findChild<QPushButton *>(u"BUClose"_s);
    QCOMPARE(nextTabStop(verwerfen), speichern);
    QCOMPARE(nextTabStop(speichern), m_list);
    QCOMPARE(nextTabStop(m_list), verwerfen);

    const int width = m_list->width();
    m_window->resize(600, 500);
    QCOMPARE(m_list->width(), width);
    QVERIFY(m_list->height() > 400 && m_list->height() <= 500);
}

void tst_FMAtyp::savesTickedTypes()
{
    openWindow();
    QTRY_VERIFY(m_list->topLevelItemCount() > 0);
    item(u"S"_s)->setCheckState(1, Qt::Checked);
    const quint64 before = cacheapi::Factory->roundTrips();
    save();
    // TSTART, the delete, the saves' answers together, TCOMMIT: however many ticks.
    QCOMPARE(cacheapi::Factory->roundTrips() - before, quint64(4));
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(storedTypes(), (QStringList{u"N"_s, u"S"_s}));
}

void tst_FMAtyp::savingNothingTickedDeletes()
{
    openWindow();
    QTRY_VERIFY(m_list->topLevelItemCount() > 0);
    item(u"N"_s)->setCheckState(1, Qt::Unchecked);
    save();
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(storedTypes().isEmpty());
}

void tst_FMAtyp::storedCodeIsItemData()
{
    openWindow();
    QTRY_VERIFY(m_list->topLevelItemCount() > 0);
    QTreeWidgetItem *sonder = item(u"S"_s);
    sonder->setText(0, u"N"_s);
    sonder->setCheckState(1, Qt::Checked);
    item(u"N"_s)->setCheckState(1, Qt::Unchecked);
    save();
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(storedTypes(), QStringList{u"S"_s});
}

void tst_FMAtyp::refusedTypeLeavesStoredChoice()
{
    openWindow();
    QTRY_VERIFY(m_list->topLevelItemCount() > 0);
    item(u"S"_s)->setCheckState(1, Qt::Checked);
    QTreeWidgetItem *last = m_list->topLevelItem(m_list->topLevelItemCount() - 1);
    last->setData(0, Qt::UserRole, u"ZZ"_s); // a type the tenant does not have
    last->setCheckState(1, Qt::Checked);

    save();
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Caché Zugriffsfehler"_s);
    QVERIFY2(m_fx->boxes().last().text.startsWith(u"Vorgang: FMAtyp.BuSpeich_Click"_s),
             qPrintable(m_fx->boxes().last().text));
    QVERIFY(m_window->isVisible());
    QCOMPARE(item(u"S"_s)->checkState(1), Qt::Checked);
    QCOMPARE(storedTypes(), QStringList{u"N"_s});

    last->setCheckState(1, Qt::Unchecked);
    save();
    QCOMPARE(m_fx->boxes().count(), 1);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(storedTypes(), (QStringList{u"N"_s, u"S"_s}));
}

void tst_FMAtyp::noListShowsEmptyList()
{
    // Tenant 3 has no article types: the server answers no list.
    m_fx.reset();
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start(u"3"_s));
    openWindow();
    auto *timer = m_window->findChild<QTimer *>(u"Timer1"_s);
    QTRY_VERIFY(!timer->isActive());
    QCOMPARE(m_list->topLevelItemCount(), 0);
    save();
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(storedTypes(), QStringList{u"N"_s}); // tenant 1 untouched
}

QTEST_MAIN(tst_FMAtyp)
#include "tst_fmatyp.moc"
