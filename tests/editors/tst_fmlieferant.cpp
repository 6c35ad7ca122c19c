// The supplier negative list: the same window as the customer list, so only what it is
// built from differently is tested here: its class, texts, search and saving.
#include "editors/fmlieferant.h"
#include "search/FMLnrsu.h"
#include "tests/editors/tst_fmkund_helpers.h"
#include "tests/support/sessionfixture.h"

#include <QPushButton>
#include <QTableView>

#include <memory>

using namespace Qt::StringLiterals;
using namespace listtests;

class tst_FMLieferant : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadsNegativeList();
    void unknownSupplierIsEmptied();
    void searchPicksSupplierAndSaveStoresIt();
    void emptyNegativeListShowsOneReadyRow();

private:
    void openWindow();
    QStringList stored() { return storedNumbers(m_fx->probe(), u"liefneg"_s, u"getlief"_s); }

    std::unique_ptr<SessionFixture> m_fx;
    fmlieferant *m_window = nullptr;
    ListEditorGrid *m_grid = nullptr;
};

void tst_FMLieferant::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_FMLieferant::cleanup()
{
    m_window = nullptr;
    m_grid = nullptr;
    m_fx.reset();
}

void tst_FMLieferant::openWindow()
{
    m_window = cacheapi::form<fmlieferant>();
    m_grid = m_window->findChild<ListEditorGrid *>(u"lilief"_s);
    QVERIFY(m_grid);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_VERIFY(m_grid->rowCount() > 0);
}

void tst_FMLieferant::loadsNegativeList()
{
    openWindow();
    QCOMPARE(m_window->objectName(), u"fmlieferant"_s);
    QCOMPARE(m_window->windowTitle(), u"Varelo Orvanta Web - Kunden"_s);
    QCOMPARE(m_grid->model()->headerData(0, Qt::Horizontal).toString(), u"Lief.-Nr"_s);
    QCOMPARE(column(m_grid, 0), (QStringList{u"70002"_s, QString()}));
    QVERIFY(!m_grid->cellText(0, 2).isEmpty());
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_FMLieferant::unknownSupplierIsEmptied()
{
    openWindow();
    typeNumber(m_grid, 1, u"10001"_s); // a customer, not a supplier
    QTRY_COMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().text, u"Lieferant nicht gespeichert"_s);
    QCOMPARE(m_grid->cellText(1, 0), QString());
    QCOMPARE(m_window->numberList(), u"70002"_s);
}

void tst_FMLieferant::searchPicksSupplierAndSaveStoresIt()
{
    openWindow();
    whenModal<FMLnrsu>([](FMLnrsu *w) {
        searchtests::search(w, u"GROESSER"_s);
        searchtests::doubleClickRow(w->findChild<QTableView *>(u"LNRSULI"_s), 0);
    });
    clickSearchCell(m_grid, 1);
    QTRY_COMPARE(m_grid->cellText(1, 0), u"70001"_s);
    QTRY_COMPARE(m_grid->cellText(1, 2), u"Größer Metall KG"_s);
    QCOMPARE(m_grid->rowCount(), 3);

    m_window->findChild<QPushButton *>(u"BuSpeich"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(stored(), (QStringList{u"70001"_s, u"70002"_s}));
}

void tst_FMLieferant::emptyNegativeListShowsOneReadyRow()
{
    m_fx->probe().Static(u"orvanta.wexlliefneg"_s)->call(u"Save"_s, {u"1"_s, QString(), u"orvanta.wexl"_s});
    openWindow();
    QCOMPARE(m_grid->rowCount(), 1);
    QCOMPARE(m_grid->cellText(0, 1), u"1"_s);
}

QTEST_MAIN(tst_FMLieferant)
#include "tst_fmlieferant.moc"
