// The supplier search against a seeded server: what sets it apart from the customer search
// (accounts, texts, traces) and picking through bm_lnr_su.
#include "main/orvanta.h"
#include "search/FMLnrsu.h"
#include "search/VareloSu.h"
#include "session/cacheapi.h"
#include "tests/search/searchtests.h"
#include "tests/support/sessionfixture.h"

#include <QLabel>
#include <QTableView>

#include <memory>

using namespace Qt::StringLiterals;
using namespace searchtests;

class tst_Lnrsu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void accountArgument_data();
    void accountArgument();

    void windowAsLoaded();
    void emptyTermRefused();
    void umlautTermNormalised();
    void searchWithAndWithoutAccount();
    void doubleClickPicksSupplier();
    void closeBoxPicksNothing();

private:
    FMLnrsu *openWindow();
    QStringList numbers(FMLnrsu *w) const;

    std::unique_ptr<SessionFixture> m_fx;
};

void tst_Lnrsu::initTestCase()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_Lnrsu::cleanupTestCase() { m_fx.reset(); }

void tst_Lnrsu::cleanup()
{
    closeStrayWindows();
    if (m_fx)
        m_fx->boxes().clear();
}

FMLnrsu *tst_Lnrsu::openWindow()
{
    FMLnrsu *w = cacheapi::form<FMLnrsu>();
    w->show();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w))
        qWarning("search window not active");
    return w;
}

QStringList tst_Lnrsu::numbers(FMLnrsu *w) const
{
    QStringList nrs;
    const QAbstractItemModel *model = w->findChild<QTableView *>(u"LNRSULI"_s)->model();
    for (int r = 0; r < model->rowCount(); ++r)
        nrs << model->index(r, 0).data().toString();
    return nrs;
}

void tst_Lnrsu::accountArgument_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("argument");
    QTest::newRow("no item") << QString() << QString();
    QTest::newRow("account") << u"1600 | Lieferanten Inland"_s << u"1600 "_s;
    QTest::newRow("account without number") << u"| ohne Nummer"_s << u"1"_s;
}

void tst_Lnrsu::accountArgument()
{
    QFETCH(QString, item);
    QFETCH(QString, argument);
    QCOMPARE(VareloSu::sammelKontoArgument(item), argument);
}

void tst_Lnrsu::windowAsLoaded()
{
    FMLnrsu *w = openWindow();
    QCOMPARE(w->windowTitle(), u"Suche nach Lieferant"_s);
    QCOMPARE(w->size(), QSize(qRound(7650.0 / orvanta::twipsPerPixelX()), qRound(5745.0 / orvanta::twipsPerPixelY())));
    QVERIFY(!w->findChild<QLineEdit *>(u"PLZ"_s));
    auto *accounts = w->findChild<QComboBox *>(u"SSKTOK"_s);
    QStringList items;
    for (int i = 0; i < accounts->count(); ++i)
        items << accounts->itemText(i);
    QCOMPARE(items, (QStringList{QString(), u"1600 | Lieferanten Inland"_s, u"1610 | Lieferanten Ausland"_s}));
    QStringList buddies;
    for (QLabel *label : w->findChildren<QLabel *>())
        if (label->buddy())
            buddies << label->text() + u'>' + label->buddy()->objectName();
    buddies.sort();
    QCOMPARE(buddies, (QStringList{u"Kurzbezeichnung:>SKBEZ"_s, u"SAKonto:>SSKTOK"_s}));
    auto *view = w->findChild<QTableView *>(u"LNRSULI"_s);
    QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), u"Lieferant.Nr."_s);
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_Lnrsu::emptyTermRefused()
{
    FMLnrsu *w = openWindow();
    search(w, QString());
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Fehler: Suchbegriffseingabe"_s);
    QVERIFY(traceLines().contains(u"FMLnrsu.BUSuch_Click;Ende Abbruch Suchbegriff zu kurz;"_s));
}

void tst_Lnrsu::umlautTermNormalised()
{
    FMLnrsu *w = openWindow();
    auto *term = w->findChild<QLineEdit *>(u"SKBEZ"_s);
    term->setFocus();
    typeText(term, u"größer"_s);
    QCOMPARE(term->text(), u"GRÖßER"_s);
    w->findChild<QComboBox *>(u"SSKTOK"_s)->setFocus();
    QTRY_COMPARE(term->text(), u"GROESSER"_s);
    // One line for leaving the field, none for the keys.
    const QStringList lines = traceLines();
    QCOMPARE(lines.first(), u"FMLnrsu.SKBEZ_LostFocus;Start/Ende;"_s);
    QVERIFY(!lines.join(u'\n').contains(u"SKBEZ_KeyUp"_s));
}

void tst_Lnrsu::searchWithAndWithoutAccount()
{
    FMLnrsu *w = openWindow();
    search(w, u"GROESSER"_s);
    QVERIFY(numbers(w).contains(u"70001"_s));
    QCOMPARE(VareloSu::lnrsu_tab[1].name, u"Größer Metall KG"_s);

    selectItem(w, u"SSKTOK"_s, u"1610"_s);
    search(w, u"GROESSER"_s);
    QVERIFY(numbers(w).contains(u"70001"_s));

    selectItem(w, u"SSKTOK"_s, u"1600"_s);
    search(w, u"GROESSER"_s);
    QVERIFY(!numbers(w).contains(u"70001"_s));

    // Back to no account: every supplier of the short name again.
    selectItem(w, u"SSKTOK"_s, QString());
    search(w, u"G"_s);
    const QList<QStringList> all = serverHits(m_fx->probe(), {u"1"_s, u"L"_s, u"G"_s, QString()});
    QCOMPARE(w->listRowCount(), qMin(500, int(all.size())));
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_Lnrsu::doubleClickPicksSupplier()
{
    whenModal<FMLnrsu>([](FMLnrsu *w) {
        search(w, u"GROESSER"_s);
        doubleClickRow(w->findChild<QTableView *>(u"LNRSULI"_s), 0);
    });
    QCOMPARE(VareloSu::bm_lnr_su(), u"70001"_s);
    QCOMPARE(cacheapi::formIfLoaded<FMLnrsu>(), nullptr);
}

void tst_Lnrsu::closeBoxPicksNothing()
{
    VareloSu::lnrsu_nr = u"stale"_s;
    whenModal<FMLnrsu>([](FMLnrsu *w) { w->close(); });
    QCOMPARE(VareloSu::bm_lnr_su(), QString());
}

QTEST_MAIN(tst_Lnrsu)
#include "tst_lnrsu.moc"
