// Product-group records and the values derived from them: tree keys, item numbers and the
// stored group number.
#include "editors/productgroups.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace editors::choice;

class tst_FmWargrGroups : public QObject
{
    Q_OBJECT

private slots:
    void numwarengruppe_data();
    void numwarengruppe();
    void record_data();
    void record();
};

void tst_FmWargrGroups::numwarengruppe_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::newRow("subgroup") << u"5|3"_s << u"0503"_s;
    QTest::newRow("main group") << u"5|0"_s << u"0500"_s;
    QTest::newRow("two-digit main") << u"12|0"_s << u"1200"_s;
    QTest::newRow("three-digit main keeps its digits") << u"100|0"_s << u"10000"_s;
    QTest::newRow("three-digit sub keeps its digits") << u"7|123"_s << u"07123"_s;
}

void tst_FmWargrGroups::numwarengruppe()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QCOMPARE(editors::choice::numwarengruppe(key), stored);
}

void tst_FmWargrGroups::record_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("expanded");

    QTest::newRow("sub shows its own number") << u"5|3|Elektrowerkzeuge|0|0"_s << u"5|3"_s << u"3"_s
                                              << u"Elektrowerkzeuge"_s << false << false;
    QTest::newRow("leading zeros dropped") << u"05|03|X|0|0"_s << u"5|3"_s << u"3"_s << u"X"_s << false << false;
    QTest::newRow("override unticks and expands a main group")
        << u"2|0|Garten|1|1"_s << u"2|0"_s << u"2"_s << u"Garten"_s << false << true;
    QTest::newRow("override never expands a subgroup")
        << u"2|4|Pumpen|1|1"_s << u"2|4"_s << u"4"_s << u"Pumpen"_s << false << false;
    QTest::newRow("non-numeric fields read as 0")
        << u"abc||B|x|y"_s << u"0|0"_s << u"0"_s << u"B"_s << false << false;
    QTest::newRow("number read from the start of the field")
        << u"7a|2b|C|1x|0"_s << u"7|2"_s << u"2"_s << u"C"_s << true << false;
}

void tst_FmWargrGroups::record()
{
    QFETCH(QString, record);
    const ProductGroupRow row = parseProductGroupRecord(record);
    QTEST(row.key(), "key");
    QTEST(row.ownNumber(), "number");
    QTEST(row.description, "description");
    QTEST(row.ticked(), "ticked");
    QTEST(row.expanded(), "expanded");
}

QTEST_APPLESS_MAIN(tst_FmWargrGroups)
#include "tst_fmwargrgroups.moc"
