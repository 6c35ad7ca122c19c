// The factory's pieces that need no server: late-bound values, the CBOR codec, the
// connection string, and Connect against addresses where no varelo-server answers.
#include "factory/cbor.h"
#include "factory/connection.h"
#include "factory/factory.h"
#include "factory/wire.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

class tst_values : public QObject
{
    Q_OBJECT

private slots:
    void toText_data();
    void toText();
    void toNumber_data();
    void toNumber();
    void sameValue_data();
    void sameValue();

    void writerIsReadByQt();
    void readerReadsQtEncoding();
    void readerReadsIndefiniteAndSmallFloats();
    void requestReadsWhatTheValueTreeReads();
    void readerRejectsBrokenInput_data();
    void readerRejectsBrokenInput();

    void connectionString_data();
    void connectionString();
    void connectClosedPortAnswersFalseQuickly();
    void connectToSilentListenerAnswersFalse();
    void callsWithoutConnectionFail();
};

void tst_values::toText_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("text") << QVariant(u"Müller"_s) << u"Müller"_s;
    QTest::newRow("integer") << QVariant(qint64(-42)) << u"-42"_s;
    QTest::newRow("int") << QVariant(7) << u"7"_s;
    QTest::newRow("whole double") << QVariant(3.0) << u"3"_s;
    QTest::newRow("negative zero") << QVariant(-0.0) << u"0"_s;
    QTest::newRow("half") << QVariant(0.5) << u"0.5"_s;
    QTest::newRow("tenth") << QVariant(0.1) << u"0.1"_s;
    QTest::newRow("large, no exponent") << QVariant(1e20) << u"100000000000000000000"_s;
    QTest::newRow("small, no exponent") << QVariant(1.5e-7) << u"0.00000015"_s;
    QTest::newRow("null") << QVariant() << QString();
    QTest::newRow("bool") << QVariant(true) << u"1"_s;
}

void tst_values::toText()
{
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QCOMPARE(factory::toText(value), text);
}

void tst_values::toNumber_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<double>("number");
    QTest::newRow("empty") << QVariant(u""_s) << 0.0;
    QTest::newRow("letters") << QVariant(u"abc"_s) << 0.0;
    QTest::newRow("leading part") << QVariant(u"12abc"_s) << 12.0;
    QTest::newRow("blanks before") << QVariant(u"  7"_s) << 7.0;
    QTest::newRow("exponent") << QVariant(u"-1.5e2x"_s) << -150.0;
    QTest::newRow("exponent without digits") << QVariant(u"3e"_s) << 3.0;
    QTest::newRow("plus sign") << QVariant(u"+3"_s) << 3.0;
    QTest::newRow("point first") << QVariant(u".5"_s) << 0.5;
    QTest::newRow("point last") << QVariant(u"5."_s) << 5.0;
    QTest::newRow("two points") << QVariant(u"1.2.3"_s) << 1.2;
    QTest::newRow("sign only") << QVariant(u"-"_s) << 0.0;
    QTest::newRow("exponent alone") << QVariant(u"e5"_s) << 0.0;
    QTest::newRow("decimal comma is not a point") << QVariant(u"1,5"_s) << 1.0;
    QTest::newRow("double") << QVariant(2.25) << 2.25;
    QTest::newRow("integer") << QVariant(qint64(10001)) << 10001.0;
    QTest::newRow("null") << QVariant() << 0.0;
}

void tst_values::toNumber()
{
    QFETCH(QVariant, value);
    QFETCH(double, number);
    QCOMPARE(factory::toNumber(value), number);
}

void tst_values::sameValue_data()
{
    QTest::addColumn<QVariant>("a");
    QTest::addColumn<QVariant>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("text and number") << QVariant(u"1"_s) << QVariant(qint64(1)) << true;
    QTest::newRow("leading zero") << QVariant(u"01"_s) << QVariant(qint64(1)) << true;
    QTest::newRow("decimal text and integer") << QVariant(u"1.0"_s) << QVariant(1) << true;
    QTest::newRow("trailing blank") << QVariant(u"1 "_s) << QVariant(1) << true;
    QTest::newRow("number with tail is text") << QVariant(u"1a"_s) << QVariant(1) << false;
    QTest::newRow("texts exact") << QVariant(u"abc"_s) << QVariant(u"abc"_s) << true;
    QTest::newRow("texts case") << QVariant(u"abc"_s) << QVariant(u"ABC"_s) << false;
    QTest::newRow("empty is not zero") << QVariant(u""_s) << QVariant(0) << false;
    QTest::newRow("null is empty") << QVariant() << QVariant(u""_s) << true;
    QTest::newRow("different numbers") << QVariant(u"2"_s) << QVariant(2.5) << false;
    QTest::newRow("two numeric texts") << QVariant(u"10"_s) << QVariant(u"1e1"_s) << true;
}

void tst_values::sameValue()
{
    QFETCH(QVariant, a);
    QFETCH(QVariant, b);
    QFETCH(bool, same);
    QCOMPARE(factory::sameValue(a, b), same);
    QCOMPARE(factory::sameValue(b, a), same);
}

void tst_values::writerIsReadByQt()
{
    const QString longText = QString(300, u'x') + u"ß€𝄞"_s; // two-byte length, 2-, 3- and 4-byte UTF-8
    QByteArray bytes;
    wire::CborWriter w(bytes);
    w.map(7);
    w.key("op"_L1);
    w.text(u"open"_s);
    w.key("long"_L1);
    w.text(longText);
    w.key("lone"_L1);
    w.text(QString(QChar(0xd800))); // a lone surrogate must not break the frame
    w.key("nums"_L1);
    w.array(6);
    w.integer(0);
    w.integer(23);
    w.integer(24);
    w.integer(-1);
    w.integer(-5000000000LL);
    w.real(0.5);
    w.key("vals"_L1);
    w.array(4);
    w.value(QVariant());
    w.value(QVariant(true));
    w.value(QVariant(u"Bär"_s));
    w.value(QVariant(qint64(1) << 40));
    w.key("null"_L1);
    w.null();
    w.key("big"_L1);
    w.integer(std::numeric_limits<qint64>::max());

    QCborParserError error;
    const QCborValue v = QCborValue::fromCbor(bytes, &error);
    QCOMPARE(error.error, QCborError::NoError);
    const QCborMap m = v.toMap();
    QCOMPARE(m.value(u"op"_s).toString(), u"open"_s);
    QCOMPARE(m.value(u"long"_s).toString(), longText);
    QCOMPARE(m.value(u"lone"_s).toString(), QString(QChar(0xfffd)));
    const QCborArray nums = m.value(u"nums"_s).toArray();
    QCOMPARE(nums.at(0).toInteger(), 0);
    QCOMPARE(nums.at(1).toInteger(), 23);
    QCOMPARE(nums.at(2).toInteger(), 24);
    QCOMPARE(nums.at(3).toInteger(), -1);
    QCOMPARE(nums.at(4).toInteger(), -5000000000LL);
    QCOMPARE(nums.at(5).toDouble(), 0.5);
    const QCborArray vals = m.value(u"vals"_s).toArray();
    QCOMPARE(vals.at(0).toString(), QString());
    QVERIFY(vals.at(0).isString());
    QCOMPARE(vals.at(1).toInteger(), 1);
    QCOMPARE(vals.at(2).toString(), u"Bär"_s);
    QCOMPARE(vals.at(3).toInteger(), qint64(1) << 40);
    QVERIFY(m.value(u"null"_s).isNull());
    QCOMPARE(m.value(u"big"_s).toInteger(), std::numeric_limits<qint64>::max());

    // A copy of the buffer taken meanwhile keeps its bytes when the writer goes on.
    bytes.reserve(bytes.size() + 100);
    const QByteArray copy = bytes;
    w.null();
    QCOMPARE(bytes.size(), copy.size() + 1);
    QCOMPARE(copy, bytes.left(copy.size()));
    QVERIFY(copy.constData()[copy.size()] == '\0');
}

void tst_values::readerReadsQtEncoding()
{
    QCborMap inner;
    inner.insert(u"Name"_s, u"Jürgen Müller"_s);
    inner.insert(u"Nr"_s, 10001);
    QCborMap m;
    m.insert(u"ok"_s, inner);
    m.insert(u"list"_s, QCborArray{1, -2, 2.5, u"x"_s, QCborValue(), true, false});
    m.insert(u"huge"_s, -9000000000000000000LL);
    const QByteArray bytes = m.toCborValue().toCbor();

    wire::CborReader r(bytes.constData(), bytes.size());
    QVariantMap seen;
    for (auto c = r.enterMap(); r.more(c);) {
        const QString key = QString::fromUtf8(r.textView());
        seen.insert(key, r.value());
    }
    QVERIFY(r.atEnd());
    const QVariantMap ok = seen.value(u"ok"_s).toMap();
    QCOMPARE(ok.value(u"Name"_s), QVariant(u"Jürgen Müller"_s));
    QCOMPARE(ok.value(u"Nr"_s), QVariant(qint64(10001)));
    const QVariantList list = seen.value(u"list"_s).toList();
    QCOMPARE(list.size(), 7);
    QCOMPARE(list.at(0), QVariant(qint64(1)));
    QCOMPARE(list.at(1), QVariant(qint64(-2)));
    QCOMPARE(list.at(2), QVariant(2.5));
    QCOMPARE(list.at(3), QVariant(u"x"_s));
    QVERIFY(!list.at(4).isValid());
    QCOMPARE(list.at(5), QVariant(qint64(1))); // booleans read as M would: 1 and 0
    QCOMPARE(list.at(6), QVariant(qint64(0)));
    QCOMPARE(seen.value(u"huge"_s), QVariant(qint64(-9000000000000000000LL)));
}

void tst_values::readerReadsIndefiniteAndSmallFloats()
{
    QByteArray bytes;
    {
        QCborStreamWriter w(&bytes);
        w.startMap(); // indefinite
        w.append(u"rows"_s);
        w.startArray();
        w.append(qfloat16(1.5f));
        w.append(2.25f);
        w.append(QCborTag(1)); // a tag is passed over
        w.append(qint64(1700000000));
        w.endArray();
        w.append(u"more"_s);
        w.append(false);
        w.endMap();
    }
    // An indefinite text, chunked: 0x7f, "ab", "c", break.
    bytes.append("\x7f\x62" "ab" "\x61" "c" "\xff", 7);

    wire::CborReader r(bytes.constData(), bytes.size());
    QVariantList rows;
    bool more = true;
    for (auto c = r.enterMap(); r.more(c);) {
        const QByteArrayView key = r.textView();
        if (key == "rows") {
            for (auto a = r.enterArray(); r.more(a);)
                rows.append(r.value());
        } else if (key == "more") {
            more = r.boolean();
        }
    }
    QCOMPARE(rows, (QVariantList{1.5, 2.25, qint64(1700000000)}));
    QVERIFY(!more);
    QCOMPARE(r.text(), u"abc"_s);
    QVERIFY(r.atEnd());
}

void tst_values::requestReadsWhatTheValueTreeReads()
{
    QCborMap m;
    m.insert(u"n"_s, 7);
    m.insert(u"op"_s, u"call"_s);
    m.insert(u"cls"_s, u"Straße"_s);
    m.insert(u"id"_s, u""_s);
    m.insert(u"a"_s, QCborArray{1, u"x"_s, 2.5, QCborValue(), QCborArray{true}});
    m.insert(u"p"_s, QCborMap{{u"Name"_s, u"Müller"_s}});
    m.insert(42, u"not a text key"_s);
    m.insert(u"n"_s, 8); // QCborMap keeps the first; so must the request
    const QByteArray bytes = m.toCborValue().toCbor();

    wire::Request r;
    QVERIFY(r.parse(bytes));
    for (const char *key : {"n", "op", "cls", "id", "a", "p", "missing"})
        QCOMPARE(r.value(QLatin1StringView(key)), m.value(QLatin1StringView(key)));
    QCOMPARE(r.text("cls"_L1), u"Straße"_s);
    QVERIFY(r.isText("id"_L1) && !r.text("id"_L1).isNull()); // empty text is still text
    QVERIFY(!r.isText("n"_L1) && r.text("n"_L1).isNull());
    QVERIFY(r.raw("missing"_L1).isEmpty() && r.value("missing"_L1).isUndefined());

    // Reused for the next frame, it forgets the last one; a map with bytes after it is broken.
    QVERIFY(r.parse(QCborMap{{u"op"_s, u"ping"_s}}.toCborValue().toCbor()));
    QVERIFY(r.value("cls"_L1).isUndefined());
    QVERIFY(!r.parse(QByteArray(bytes + char(1))));
    QVERIFY(!r.parse(QCborValue(u"op"_s).toCbor()));
}

void tst_values::readerRejectsBrokenInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated text") << QByteArray("\x65" "ab", 3);
    QTest::newRow("truncated text, one-byte length") << QByteArray("\x78\x05" "ab", 4);
    QTest::newRow("truncated length") << QByteArray("\x19\x01", 2);
    QTest::newRow("array claims 4 billion items") << QByteArray("\x9a\xff\xff\xff\xff\x01", 6);
    QTest::newRow("reserved additional info") << QByteArray("\x1c", 1);
    QTest::newRow("stray break") << QByteArray("\xff", 1);
    QTest::newRow("unterminated indefinite array") << QByteArray("\x9f\x01\x02", 3);
    QTest::newRow("chunk of other type in text") << QByteArray("\x7f\x41" "a" "\xff", 4);
    QTest::newRow("nesting too deep") << QByteArray(200, '\x81');
}

void tst_values::readerRejectsBrokenInput()
{
    QFETCH(QByteArray, bytes);
    wire::CborReader r(bytes.constData(), bytes.size());
    try {
        r.value();
        QFAIL("accepted broken CBOR");
    } catch (const factory::Error &e) {
        QCOMPARE(e.number(), int(factory::ErrorCode::Protocol));
    }
    // The same bytes as a request's value are refused with the frame.
    QVERIFY(!wire::Request().parse(QByteArray(QByteArray("\xa1\x61" "a", 3) + bytes)));
}

void tst_values::connectionString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("ns");
    QTest::newRow("usual") << u"cn_iptcp:127.0.0.1[1973]:VARELO"_s << true << u"127.0.0.1"_s << 1973 << u"VARELO"_s;
    QTest::newRow("host name, prefix case") << u"CN_IPTCP:varelo-host[4900]:GATEWAY"_s << true << u"varelo-host"_s
                                            << 4900 << u"GATEWAY"_s;
    QTest::newRow("IPv6") << u"cn_iptcp:::1[1973]:VARELO"_s << true << u"::1"_s << 1973 << u"VARELO"_s;
    QTest::newRow("surrounding blanks") << u" cn_iptcp:h[1]:N "_s << true << u"h"_s << 1 << u"N"_s;
    QTest::newRow("no port") << u"cn_iptcp:127.0.0.1:VARELO"_s << false << QString() << 0 << QString();
    QTest::newRow("port zero") << u"cn_iptcp:h[0]:N"_s << false << QString() << 0 << QString();
    QTest::newRow("port too big") << u"cn_iptcp:h[65536]:N"_s << false << QString() << 0 << QString();
    QTest::newRow("port not a number") << u"cn_iptcp:h[19x3]:N"_s << false << QString() << 0 << QString();
    QTest::newRow("no namespace") << u"cn_iptcp:h[1973]:"_s << false << QString() << 0 << QString();
    QTest::newRow("no host") << u"cn_iptcp:[1973]:N"_s << false << QString() << 0 << QString();
    QTest::newRow("other scheme") << u"tcp:h[1973]:N"_s << false << QString() << 0 << QString();
    QTest::newRow("blank in host") << u"cn_iptcp:a b[1973]:N"_s << false << QString() << 0 << QString();
    QTest::newRow("missing colon") << u"cn_iptcp:h[1973]N"_s << false << QString() << 0 << QString();
    QTest::newRow("empty") << QString() << false << QString() << 0 << QString();
}

void tst_values::connectionString()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto a = factory::parseConnectionString(text);
    QCOMPARE(a.has_value(), valid);
    if (!valid) {
        factory::Factory f;
        try {
            f.Connect(text);
            QFAIL("malformed string accepted");
        } catch (const factory::Error &e) {
            QCOMPARE(e.number(), int(factory::ErrorCode::BadConnectionString));
            QVERIFY(e.description().contains(text));
        }
        return;
    }
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, ns);
    QCOMPARE(a->host, host);
    QCOMPARE(int(a->port), port);
    QCOMPARE(a->ns, ns);
}

void tst_values::connectClosedPortAnswersFalseQuickly()
{
    QTcpServer probe; // a port that was free a moment ago
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    factory::Factory f;
    QElapsedTimer t;
    t.start();
    QVERIFY(!f.Connect(u"cn_iptcp:127.0.0.1[%1]:VARELO"_s.arg(port)));
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!f.IsConnected());
    QCOMPARE(f.jobNumber(), 0);
}

void tst_values::connectToSilentListenerAnswersFalse()
{
    // Accepted by the kernel but never answered: whatever listens there is no varelo-server.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    factory::Factory f;
    f.setConnectTimeout(300);
    QElapsedTimer t;
    t.start();
    QVERIFY(!f.Connect(u"cn_iptcp:127.0.0.1[%1]:VARELO"_s.arg(silent.serverPort())));
    QVERIFY(t.elapsed() >= 250);
    QVERIFY(t.elapsed() < 3000);
    QVERIFY(!f.IsConnected());
}

void tst_values::callsWithoutConnectionFail()
{
    factory::Factory f;
    QVERIFY(!f.IsConnected());
    f.Disconnect(); // harmless when not connected
    const auto expectNotConnected = [](auto &&call) {
        try {
            call();
            return false;
        } catch (const factory::Error &e) {
            return e.number() == factory::ErrorCode::NotConnected && e.description().contains(u"VR.Windows"_s);
        }
    };
    QVERIFY(expectNotConnected([&] { f.OpenId(u"VR.Windows"_s, u"1"_s); }));
    QVERIFY(expectNotConnected([&] { f.New(u"VR.Windows"_s); }));
    QVERIFY(expectNotConnected([&] { f.Static(u"VR.Windows"_s); }));
    QVERIFY(expectNotConnected([&] { f.ResultSet(u"VR.Windows"_s, u"KkrSuche"_s); }));
    QCOMPARE(f.roundTrips(), quint64(0));
}

QTEST_GUILESS_MAIN(tst_values)
#include "tst_values.moc"
