// The customer search against a seeded server: the window as it opens, the term rules, the
// searches and their limits, the virtual list, and picking a customer through bm_knr_su.
#include "main/orvanta.h"
#include "platform/platform.h"
#include "search/FMKnrsu.h"
#include "search/VareloSu.h"
#include "session/cacheapi.h"
#include "tests/search/searchtests.h"
#include "tests/support/sessionfixture.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>

#include <memory>

using namespace Qt::StringLiterals;
using namespace searchtests;

class tst_Knrsu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void groupArgument_data();
    void groupArgument();

    void windowAsLoaded();
    void emptyTermRefusedWithoutServer();
    void blankTermIsSearched();
    void termShownInCapitalsAndNormalised();
    void sharpSTermCutBackTo18();
    void enterSearchesWithNormalisedTerm();
    void noHits();
    void stopsAt500AndKeepsOlderHits();
    void groupAndPostCodeNarrowTheSearch();
    void rowsAndColours();
    void doubleClickOnRow3PicksIt();
    void closeBoxPicksNothing();
    void doubleClickBesideRowsDoesNothing();

private:
    FMKnrsu *openWindow();
    QTableView *list(FMKnrsu *w) const { return w->findChild<QTableView *>(u"KNRSULI"_s); }
    QStringList listColumn(FMKnrsu *w, int column) const;

    std::unique_ptr<SessionFixture> m_fx;
};

void tst_Knrsu::initTestCase()
{
    // Searches only read: one server serves the whole class.
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_Knrsu::cleanupTestCase() { m_fx.reset(); }

void tst_Knrsu::cleanup()
{
    closeStrayWindows();
    if (m_fx)
        m_fx->boxes().clear();
}

FMKnrsu *tst_Knrsu::openWindow()
{
    FMKnrsu *w = cacheapi::form<FMKnrsu>();
    w->show();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w))
        qWarning("search window not active");
    return w;
}

QStringList tst_Knrsu::listColumn(FMKnrsu *w, int column) const
{
    QStringList texts;
    const QAbstractItemModel *model = list(w)->model();
    for (int r = 0; r < model->rowCount(); ++r)
        texts << model->index(r, column).data().toString();
    return texts;
}

void tst_Knrsu::groupArgument_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("argument");
    QTest::newRow("no item") << QString() << QString();
    QTest::newRow("one digit") << u"7 | Gastronomie"_s << u"7 "_s;
    QTest::newRow("two digits") << u"12 | Öffentliche Hand"_s << u"12"_s;
}

void tst_Knrsu::groupArgument()
{
    QFETCH(QString, item);
    QFETCH(QString, argument);
    QCOMPARE(VareloSu::kundenGruppeArgument(item), argument);
}

void tst_Knrsu::windowAsLoaded()
{
    FMKnrsu *w = openWindow();
    QCOMPARE(w->windowTitle(), u"Suche nach Kunden"_s);
    const int tx = orvanta::twipsPerPixelX();
    QCOMPARE(w->size(), QSize(qRound(7650.0 / tx), qRound(5700.0 / orvanta::twipsPerPixelY())));
    QCOMPARE(w->minimumSize(), w->maximumSize());

    auto *term = w->findChild<QLineEdit *>(u"SKBEZ"_s);
    QCOMPARE(term->maxLength(), 18);
    QVERIFY(w->findChild<QLineEdit *>(u"PLZ"_s));
    QVERIFY(w->findChild<QPushButton *>(u"BUSuch"_s)->isDefault());
    QCOMPARE(w->findChild<QPushButton *>(u"BUSuch"_s)->text(), u"Suchen"_s);
    QStringList buddies;
    for (QLabel *label : w->findChildren<QLabel *>())
        if (label->buddy())
            buddies << label->text() + u'>' + label->buddy()->objectName();
    buddies.sort();
    QCOMPARE(buddies, (QStringList{u"K Gruppe:>SKGRP"_s, u"Kurzbez.:>SKBEZ"_s, u"PLZ:>PLZ"_s}));
    QCOMPARE(QApplication::focusWidget(), term);

    auto *groups = w->findChild<QComboBox *>(u"SKGRP"_s);
    QStringList items;
    for (int i = 0; i < groups->count(); ++i)
        items << groups->itemText(i);
    QCOMPARE(items, (QStringList{QString(), u"1 | Einzelhandel"_s, u"2 | Großhandel"_s, u"3 | Handwerk"_s,
                                 u"7 | Gastronomie"_s, u"12 | Öffentliche Hand"_s}));
    QCOMPARE(groups->isEditable(), false);

    QTableView *view = list(w);
    const QStringList headers{u"KundenNr."_s, u"K Bezeichnung"_s, u"Name"_s, u"PLZ"_s, u"Straße"_s, QString()};
    int total = 0;
    const int shares[] = {8, 20, 30, 8, 44};
    for (int c = 0; c < 6; ++c)
        QCOMPARE(view->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
    // The number column is never narrower than its header (widths in detail: tst_searchlayout).
    QCOMPARE(view->columnWidth(0),
             qMax(qRound(7455.0 * shares[0] / 100.0 / tx), view->horizontalHeader()->sectionSizeHint(0)));
    for (int c = 0; c < 5; ++c) {
        if (c > 0)
            QCOMPARE(view->columnWidth(c), qRound(7455.0 * shares[c] / 100.0 / tx));
        total += view->columnWidth(c);
    }
    // 110 % of the list: it scrolls sideways.
    QVERIFY(total > view->viewport()->width());
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_Knrsu::emptyTermRefusedWithoutServer()
{
    FMKnrsu *w = openWindow();
    search(w, u"MUELLER"_s);
    const int rows = w->listRowCount();
    QVERIFY(rows > 0);

    const quint64 trips = cacheapi::Factory->roundTrips();
    search(w, QString());
    QCOMPARE(cacheapi::Factory->roundTrips(), trips);
    QCOMPARE(w->listRowCount(), rows);
    QCOMPARE(m_fx->boxes().count(), 1);
    const platform::ShownMessage &box = m_fx->boxes().last();
    QCOMPARE(box.text, u"Der Suchbegriff muss mindestens 1 Zeichen Lang sein"_s);
    QCOMPARE(box.title, u"Fehler: Suchbegriffseingabe"_s);
    QCOMPARE(box.buttons, platform::Buttons::Ok);
    QVERIFY(traceLines().contains(u"FMKnrsu.BUSuch_Click;Ende Abbruch Suchbegriff zu Kurz;"_s));
}

void tst_Knrsu::blankTermIsSearched()
{
    // A blank is a character: the search runs (and finds no short name starting with one).
    FMKnrsu *w = openWindow();
    search(w, u"MA"_s);
    search(w, u" "_s);
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(w->listRowCount(), 0);
}

void tst_Knrsu::termShownInCapitalsAndNormalised()
{
    FMKnrsu *w = openWindow();
    auto *term = w->findChild<QLineEdit *>(u"SKBEZ"_s);
    term->setFocus();
    typeText(term, u"müller"_s);
    QCOMPARE(term->text(), u"MÜLLER"_s);
    // One line a key released.
    QCOMPARE(traceLines().mid(0, 7).count(u"FMKnrsu.SKBEZ_KeyUp;Start/Ende;"_s), 6);
    w->findChild<QLineEdit *>(u"PLZ"_s)->setFocus();
    QTRY_COMPARE(term->text(), u"MUELLER"_s);
    QCOMPARE(traceLines().mid(0, 2),
             (QStringList{u"FMKnrsu.SKBEZ_LostFocus;Ende;"_s, u"FMKnrsu.SKBEZ_LostFocus;Start;"_s}));

    w->findChild<QPushButton *>(u"BUSuch"_s)->click();
    const QStringList numbers = listColumn(w, 0);
    const int row = int(numbers.indexOf(u"10001"_s));
    QVERIFY(row >= 0);
    QCOMPARE(listColumn(w, 1)[row], u"MUELLER"_s);
    QCOMPARE(listColumn(w, 2)[row], u"Müller Bau GmbH"_s);
    QCOMPARE(listColumn(w, 3)[row], u"80331"_s);
    QCOMPARE(listColumn(w, 4)[row], u"Hauptstraße 1"_s);
    for (const QString &kbez : listColumn(w, 1))
        QVERIFY(kbez.startsWith(u"MUELLER"_s));
}

void tst_Knrsu::sharpSTermCutBackTo18()
{
    FMKnrsu *w = openWindow();
    auto *term = w->findChild<QLineEdit *>(u"SKBEZ"_s);
    term->setFocus();
    term->setText(u"STRAßENBAUMEISTERX"_s);
    QCOMPARE(term->text().size(), 18);
    w->findChild<QLineEdit *>(u"PLZ"_s)->setFocus();
    QTRY_COMPARE(term->text(), u"STRASSENBAUMEISTER"_s);
}

void tst_Knrsu::enterSearchesWithNormalisedTerm()
{
    FMKnrsu *w = openWindow();
    auto *term = w->findChild<QLineEdit *>(u"SKBEZ"_s);
    term->setFocus();
    typeText(term, u"mä"_s);
    QTest::keyClick(term, Qt::Key_Return);
    QCOMPARE(term->text(), u"MAE"_s);
    QVERIFY(w->listRowCount() > 0);
    for (const QString &kbez : listColumn(w, 1))
        QVERIFY2(kbez.startsWith(u"MAE"_s), qPrintable(kbez));
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_Knrsu::noHits()
{
    FMKnrsu *w = openWindow();
    search(w, u"MA"_s);
    QVERIFY(w->listRowCount() > 0);
    search(w, u"QQQXYZ"_s);
    QCOMPARE(w->listRowCount(), 0);
    QCOMPARE(list(w)->model()->rowCount(), 0);
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(traceLines().contains(u"VareloSU.getknrsu;Ende;"_s));
}

void tst_Knrsu::stopsAt500AndKeepsOlderHits()
{
    const QList<QStringList> all = serverHits(m_fx->probe(), {u"1"_s, u"K"_s, u"MA"_s, QString(), QString()});
    QVERIFY2(all.size() >= 600, qPrintable(QString::number(all.size())));

    FMKnrsu *w = openWindow();
    search(w, u"MA"_s);
    QCOMPARE(w->listRowCount(), 500);
    QCOMPARE(list(w)->model()->rowCount(), 500);
    QCOMPARE(VareloSu::knrsu_tab[1].nr, all[0][0]);
    QCOMPARE(VareloSu::knrsu_tab[500].nr, all[499][0]);
    QCOMPARE(VareloSu::knrsu_tab[0].nr, QString());

    // A smaller search overwrites from the top and leaves the rest of the table alone.
    const VareloSu::nrsu_satz last = VareloSu::knrsu_tab[500];
    search(w, u"MUELLER"_s);
    const int rows = w->listRowCount();
    QVERIFY(rows > 0 && rows < 500);
    QCOMPARE(list(w)->model()->rowCount(), rows);
    QCOMPARE(VareloSu::knrsu_tab[500].nr, last.nr);
    QCOMPARE(VareloSu::knrsu_tab[1].kbez.left(7), u"MUELLER"_s);
}

void tst_Knrsu::groupAndPostCodeNarrowTheSearch()
{
    factory::InstancePtr customer = m_fx->probe().OpenId(u"VR.KKR"_s, u"1||K||10002"_s);
    const QString kbez = factory::toText(customer->get(u"KBEZ"_s));
    QCOMPARE(factory::toText(customer->get(u"KGRP"_s)), u"7"_s);

    FMKnrsu *w = openWindow();
    selectItem(w, u"SKGRP"_s, u"7 |"_s);
    search(w, kbez);
    QVERIFY(listColumn(w, 0).contains(u"10002"_s));
    for (const QString &nr : listColumn(w, 0)) {
        factory::InstancePtr hit = m_fx->probe().OpenId(u"VR.KKR"_s, u"1||K||"_s + nr);
        QCOMPARE(factory::toText(hit->get(u"KGRP"_s)), u"7"_s);
    }
    selectItem(w, u"SKGRP"_s, u"1 |"_s);
    search(w, kbez);
    QVERIFY(!listColumn(w, 0).contains(u"10002"_s));

    selectItem(w, u"SKGRP"_s, QString());
    w->findChild<QLineEdit *>(u"PLZ"_s)->setText(u"80331"_s);
    search(w, u"MUELLER"_s);
    QVERIFY(listColumn(w, 0).contains(u"10001"_s));
    for (const QString &plz : listColumn(w, 3))
        QCOMPARE(plz, u"80331"_s);
    w->findChild<QLineEdit *>(u"PLZ"_s)->setText(u"20095"_s);
    search(w, u"MUELLER"_s);
    QVERIFY(!listColumn(w, 0).contains(u"10001"_s));
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_Knrsu::rowsAndColours()
{
    FMKnrsu *w = openWindow();
    QAbstractItemModel *model = list(w)->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    search(w, u"MA"_s);
    search(w, u"MUELLER"_s);
    QVERIFY(model->rowCount() >= 3);
    const QColor yellow(255, 255, 180), white(255, 255, 255);
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(model->index(0, c).data(Qt::BackgroundRole).value<QColor>(), yellow);
        QCOMPARE(model->index(1, c).data(Qt::BackgroundRole).value<QColor>(), white);
        QCOMPARE(model->index(2, c).data(Qt::BackgroundRole).value<QColor>(), yellow);
    }
    QCOMPARE(model->index(2, 0).data().toString(), VareloSu::knrsu_tab[3].nr);
    QCOMPARE(model->index(2, 5).data().toString(), QString());
    QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(traceLines().contains(u"FMKnrsu.KNRSULI_GetData;Start;"_s));
}

void tst_Knrsu::doubleClickOnRow3PicksIt()
{
    const QList<QStringList> hits = serverHits(m_fx->probe(), {u"1"_s, u"K"_s, u"MA"_s, QString(), QString()});
    VareloSu::knrsu_nr = u"stale"_s;
    whenModal<FMKnrsu>([](FMKnrsu *w) {
        search(w, u"MA"_s);
        doubleClickRow(w->findChild<QTableView *>(u"KNRSULI"_s), 2);
    });
    const QString picked = VareloSu::bm_knr_su();
    QCOMPARE(picked, hits[2][0]);
    QCOMPARE(VareloSu::knrsu_nr, picked);
    QCOMPARE(cacheapi::formIfLoaded<FMKnrsu>(), nullptr);
    QVERIFY(!platform::GetSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMKnrsu"_s).isEmpty());
    QVERIFY(traceLines().contains(u"FMKnrsu.KNRSULI_DblClick;Ende;"_s + picked));
}

void tst_Knrsu::closeBoxPicksNothing()
{
    VareloSu::knrsu_nr = u"stale"_s;
    whenModal<FMKnrsu>([](FMKnrsu *w) {
        search(w, u"MA"_s);
        w->close();
    });
    QCOMPARE(VareloSu::bm_knr_su(), QString());
    QCOMPARE(cacheapi::formIfLoaded<FMKnrsu>(), nullptr);
}

void tst_Knrsu::doubleClickBesideRowsDoesNothing()
{
    FMKnrsu *w = openWindow();
    search(w, u"QQQXYZ"_s);
    VareloSu::knrsu_nr.clear();
    QTableView *view = list(w);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QCoreApplication::processEvents();
    QVERIFY(w->isVisible());
    QCOMPARE(VareloSu::knrsu_nr, QString());
}

QTEST_MAIN(tst_Knrsu)
#include "tst_knrsu.moc"
