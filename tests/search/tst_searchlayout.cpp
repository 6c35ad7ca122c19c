// The two search windows as the user sees them, run at 100 % and at 150 % screen scaling
// (QT_SCALE_FACTOR, see CMakeLists): the criteria row fits the fixed window, a chosen group
// or account can be read in full, the number column shows its header and the numbers, and the
// rows are compact. Widths are asserted against the texts, not against pixels.
#include "search/FMKnrsu.h"
#include "search/FMLnrsu.h"
#include "session/cacheapi.h"
#include "tests/search/searchtests.h"
#include "tests/support/sessionfixture.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTableView>

#include <memory>

using namespace Qt::StringLiterals;
using namespace searchtests;

class tst_SearchLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void readable_data();
    void readable();

private:
    std::unique_ptr<SessionFixture> m_fx;
};

void tst_SearchLayout::initTestCase()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_SearchLayout::cleanupTestCase() { m_fx.reset(); }
void tst_SearchLayout::cleanup() { closeStrayWindows(); }

void tst_SearchLayout::readable_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("term");
    QTest::newRow("customers") << u"FMKnrsu"_s << u"SKGRP"_s << u"MA"_s;
    QTest::newRow("suppliers") << u"FMLnrsu"_s << u"SSKTOK"_s << u"G"_s;
}

void tst_SearchLayout::readable()
{
    QFETCH(QString, window);
    QFETCH(QString, choice);
    QFETCH(QString, term);
    SearchWindow *w = window == u"FMKnrsu" ? static_cast<SearchWindow *>(cacheapi::form<FMKnrsu>())
                                           : static_cast<SearchWindow *>(cacheapi::form<FMLnrsu>());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    search(w, term);
    QVERIFY(w->listRowCount() > 0);
    const QImage shot = w->grab().toImage();
    QCOMPARE(shot.size(), w->size() * w->devicePixelRatio());

    // The criteria row: left to right as designed, inside the window, nothing overlapping.
    QList<QWidget *> row;
    for (QLabel *label : w->findChildren<QLabel *>())
        row << label << label->buddy();
    row << w->findChild<QPushButton *>(u"BUSuch"_s);
    std::sort(row.begin(), row.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
    QCOMPARE(row.first()->objectName(), QString()); // the short name's label
    QCOMPARE(row[1]->objectName(), u"SKBEZ"_s);
    QCOMPARE(row.last()->objectName(), u"BUSuch"_s);
    for (int i = 1; i < row.size(); ++i)
        QVERIFY2(row[i - 1]->geometry().right() < row[i]->x(), qPrintable(row[i]->objectName()));
    QVERIFY(row.last()->geometry().right() < w->width());
    for (QLabel *label : w->findChildren<QLabel *>())
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
    // The short name keeps room for a few capitals.
    QVERIFY(row[1]->width() >= row[1]->fontMetrics().horizontalAdvance(u"MUELLER"_s));

    // Every item of the list can be read in full once chosen.
    auto *combo = w->findChild<QComboBox *>(choice);
    QVERIFY(combo->count() > 1);
    QStyleOptionComboBox option;
    option.initFrom(combo);
    const int room =
        combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width();
    for (int i = 0; i < combo->count(); ++i)
        QVERIFY2(combo->fontMetrics().horizontalAdvance(combo->itemText(i)) <= room, qPrintable(combo->itemText(i)));

    // The number column shows its header and every number shown; rows are one line high.
    auto *list = w->findChild<QTableView *>();
    QHeaderView *header = list->horizontalHeader();
    QVERIFY(list->columnWidth(0) >= header->sectionSizeHint(0));
    for (int r = 0; r < list->model()->rowCount(); ++r)
        QVERIFY(list->columnWidth(0) >= list->sizeHintForIndex(list->model()->index(r, 0)).width());
    const int rowHeight = list->rowHeight(0);
    QVERIFY2(rowHeight <= list->fontMetrics().height() + 6, qPrintable(QString::number(rowHeight)));
    QVERIFY(list->viewport()->height() / rowHeight >= 15);
    QVERIFY(list->geometry().right() < w->width());
    QVERIFY(list->horizontalScrollBar()->maximum() > 0); // wider than the window: it scrolls
}

QTEST_MAIN(tst_SearchLayout)
#include "tst_searchlayout.moc"
