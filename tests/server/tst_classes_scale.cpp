// The demo data at a larger scale: the counts it promises, and a prefix search that reads
// only the rows the client asks for.

#include "factory/factory.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_classes_scale : public QObject
{
    Q_OBJECT

private:
    TestServer m_server{TestServer::Options{true, 50, {u"VARELO"_s}, {}, false, {}, 0}};
    factory::Factory m_f;

    int count(const QVariantList &args)
    {
        auto rs = m_f.ResultSet(u"VR.Windows"_s, u"KkrSuche"_s);
        rs->Execute(args);
        int n = 0;
        while (rs->Next())
            ++n;
        return n;
    }

private slots:
    void initTestCase()
    {
        QElapsedTimer seeding;
        seeding.start();
        QVERIFY(m_server.start());
        qInfo("seeded scale 50 in %lld ms", seeding.elapsed());
        QVERIFY(m_server.connect(m_f));
    }

    void countsFollowTheScale()
    {
        QCOMPARE(count({u"1"_s, u"K"_s, u""_s, u""_s, u""_s}), 1000 * (50 + 2));
        QCOMPARE(count({u"1"_s, u"L"_s, u""_s, u""_s}), 100 * (50 + 2));
        QCOMPARE(count({u"2"_s, u"K"_s, u""_s, u""_s, u""_s}), 40);
    }

    void firstHitsCostOneRoundTrip()
    {
        const quint64 before = m_f.roundTrips();
        auto rs = m_f.ResultSet(u"VR.Windows"_s, u"KkrSuche"_s);
        rs->Execute({u"1"_s, u"K"_s, u"M"_s, u""_s, u""_s});
        QString last;
        for (int i = 0; i < 500; ++i) {
            QVERIFY(rs->Next());
            const QString kbez = rs->GetData(2).toString();
            QVERIFY(kbez.startsWith(u'M'));
            QVERIFY(last <= kbez);
            last = kbez;
        }
        QCOMPARE(m_f.roundTrips() - before, quint64(1));
        rs->Close();
    }
};

QTEST_GUILESS_MAIN(tst_classes_scale)
#include "tst_classes_scale.moc"
