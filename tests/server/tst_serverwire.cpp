// varelo-server at the wire: hand-shake, broken and oversized frames, bad requests and
// handles, what a connection may do before its sign-in, limits for strangers and for connections. Whatever one connection sends, the server
// and every other connection go on. With VARELO_TEST_TLS set (ctest tst_serverwire_tls) all of
// it runs again inside TLS against a server that serves TLS only.
#include "tests/server/rawclient.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QTest>

using namespace Qt::StringLiterals;
namespace Code = factory::ErrorCode;

class tst_serverwire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void helloAnswersJobAndCanonicalNamespace();
    void requestsBeforeHelloAreRefused();
    void unknownNamespaceOrVersionEndsTheConnection();
    void brokenFramesAnswerOnceAndCloseOnlyThatConnection_data();
    void brokenFramesAnswerOnceAndCloseOnlyThatConnection();
    void oversizedFrameIsAnsweredEvenWhileTheClientKeepsSending();
    void halfAFrameThenGoneLeavesTheServerUp();
    void badRequestsAreAnsweredAndTheConnectionStays_data();
    void badRequestsAreAnsweredAndTheConnectionStays();
    void resultSetsComeInBatchesOfTheAskedSize();
    void resultSetHandlesBelongToTheirJob();
    void resultSetsInMemoryAreBoundedPerJob();
    void anonymousConnectionMayOnlySignIn();
    void wrongPasswordsInARowSlowThatConnection();
    void strangersAreClosedOnTimeOrSize();
    void plainClientOfATlsServerIsToldWhy();
    void closedConnectionsGiveTheirMemoryBack();

private:
    std::unique_ptr<TestServer> m_server;
    RawClient m_bystander; // stays connected through every test
};

namespace {
constexpr int HelloTimeout = 2000;

qint64 residentBytes(qint64 pid)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression rss(u"VmRSS:\\s+(\\d+) kB"_s);
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong() * 1024;
}
} // namespace

void tst_serverwire::initTestCase()
{
    TestServer::Options options;
    options.tls = qEnvironmentVariableIsSet("VARELO_TEST_TLS");
    options.extraArgs = {u"--hello-timeout"_s, QString::number(HelloTimeout)};
    RawClient::tls = options.tls;
    m_server = std::make_unique<TestServer>(options);
    QVERIFY(m_server->start());
    QVERIFY(m_bystander.open(m_server->port()));
}

void tst_serverwire::helloAnswersJobAndCanonicalNamespace()
{
    RawClient a;
    RawClient b;
    QVERIFY(a.connectTo(m_server->port()));
    QVERIFY(b.connectTo(m_server->port()));
    const QCborMap answer = a.request({{u"op"_s, u"hello"_s}, {u"v"_s, 1}, {u"ns"_s, u"varelo"_s}});
    const QCborMap ok = answer.value(u"ok"_s).toMap();
    QCOMPARE(ok.value(u"ns"_s).toString(), u"VARELO"_s);
    const int jobA = int(ok.value(u"job"_s).toInteger());
    const int jobB = b.hello();
    QVERIFY(jobA > 0 && jobB > 0 && jobA != jobB);
    QVERIFY(a.signIn());
    QCOMPARE(a.xecute(u"W $J"_s), QString::number(jobA));

    // A second hello is refused, the job goes on.
    const QCborMap again = a.request({{u"op"_s, u"hello"_s}, {u"v"_s, 1}, {u"ns"_s, u"VARELO"_s}});
    QCOMPARE(RawClient::errorOf(again), int(Code::Protocol));
    QVERIFY(a.request({{u"op"_s, u"ping"_s}}).contains(u"ok"_s));

    // Requests sent ahead in one write, and one arriving in pieces, are answered in order.
    QByteArray ahead;
    for (int n = 1; n <= 3; ++n)
        ahead += wire::encode({{u"op"_s, u"ping"_s}, {u"n"_s, n}});
    const QByteArray last = wire::encode(
        {{u"op"_s, u"open"_s}, {u"n"_s, 4}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||ADM"_s}});
    a.sendBytes(ahead + last.left(3));
    QThread::msleep(30);
    a.sendBytes(last.mid(3, 12));
    QThread::msleep(30);
    a.sendBytes(last.mid(15));
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(a.receive().value(u"n"_s).toInteger(), n);
    const QCborMap opened = a.receive();
    QCOMPARE(opened.value(u"n"_s).toInteger(), 4);
    QCOMPARE(opened.value(u"ok"_s).toMap().value(u"p"_s).toMap().value(u"Code"_s).toString(), u"ADM"_s);
}

void tst_serverwire::requestsBeforeHelloAreRefused()
{
    RawClient c;
    QVERIFY(c.connectTo(m_server->port()));
    const QCborMap answer = c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s}});
    QCOMPARE(RawClient::errorOf(answer), int(Code::Protocol));
    QVERIFY(c.hello() > 0);
    const QCborMap opened = c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s}});
    QVERIFY2(opened.contains(u"ok"_s), qPrintable(RawClient::descriptionOf(opened)));
}

void tst_serverwire::unknownNamespaceOrVersionEndsTheConnection()
{
    RawClient c;
    QVERIFY(c.connectTo(m_server->port()));
    QCborMap answer = c.request({{u"op"_s, u"hello"_s}, {u"v"_s, 1}, {u"ns"_s, u"NIRGENDS"_s}});
    QCOMPARE(RawClient::errorOf(answer), int(Code::UnknownNamespace));
    QVERIFY(RawClient::descriptionOf(answer).contains(u"NIRGENDS"_s));
    QVERIFY(c.closedByServer());

    RawClient d;
    QVERIFY(d.connectTo(m_server->port()));
    answer = d.request({{u"op"_s, u"hello"_s}, {u"v"_s, 2}, {u"ns"_s, u"VARELO"_s}});
    QCOMPARE(RawClient::errorOf(answer), int(Code::Version));
    QVERIFY(d.closedByServer());
}

void tst_serverwire::brokenFramesAnswerOnceAndCloseOnlyThatConnection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("afterHello");
    QTest::newRow("not CBOR") << rawFrame("\xff\xfe\x00garbage") << true;
    QTest::newRow("truncated CBOR map") << rawFrame(QByteArray::fromHex("a2636f70")) << true;
    QTest::newRow("array, not a map") << rawFrame(QCborValue(QCborArray{1, 2}).toCbor()) << true;
    QTest::newRow("text, not a map") << rawFrame(QCborValue(u"hello"_s).toCbor()) << false;
    QTest::newRow("map without op") << rawFrame(QCborValue(QCborMap{{u"cls"_s, u"x"_s}}).toCbor()) << true;
    QTest::newRow("op not text") << rawFrame(QCborValue(QCborMap{{u"op"_s, 7}}).toCbor()) << false;
    QTest::newRow("empty frame") << rawFrame({}) << true;
    QTest::newRow("nested a million deep")
        << rawFrame(QByteArray::fromHex("a1626f7081") + QByteArray(1000000, '\x81') + QByteArray(1, '\x01')) << true;
}

void tst_serverwire::brokenFramesAnswerOnceAndCloseOnlyThatConnection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, afterHello);
    RawClient c;
    QVERIFY(afterHello ? c.open(m_server->port()) : c.connectTo(m_server->port()));
    if (afterHello)
        QCOMPARE(c.xecute(u"S X=1 W X"_s), u"1"_s);
    c.sendBytes(bytes);
    const QCborMap answer = c.receive();
    QCOMPARE(RawClient::errorOf(answer), int(Code::Protocol));
    QVERIFY(c.receive(300).isEmpty()); // once
    QVERIFY(c.closedByServer());

    QCOMPARE(m_bystander.xecute(u"W 6*7"_s), u"42"_s);
    RawClient fresh;
    QVERIFY(fresh.open(m_server->port()));
}

void tst_serverwire::oversizedFrameIsAnsweredEvenWhileTheClientKeepsSending()
{
    RawClient c;
    QVERIFY(c.open(m_server->port()));
    QByteArray header(4, '\0');
    qToBigEndian<quint32>(wire::MaxFrame + 1, header.data());
    c.sendBytes(header + QByteArray(256 * 1024, 'x'));
    const QCborMap answer = c.receive();
    QCOMPARE(RawClient::errorOf(answer), int(Code::FrameTooLarge));
    QVERIFY(c.closedByServer());
    QCOMPARE(m_bystander.xecute(u"W 1"_s), u"1"_s);
}

void tst_serverwire::halfAFrameThenGoneLeavesTheServerUp()
{
    {
        RawClient c;
        QVERIFY(c.open(m_server->port()));
        QVERIFY(c.xecute(u"TSTART  S ^HALF=1"_s).isEmpty());
        const QByteArray frame = wire::encode({{u"op"_s, u"ping"_s}});
        c.sendBytes(frame.left(frame.size() - 2));
        c.abort();
    }
    RawClient d;
    QVERIFY(d.open(m_server->port()));
    // The half-done job's transaction is gone with it, lock included.
    int error = -1;
    QTRY_COMPARE_WITH_TIMEOUT(d.xecute(u"S ^AFTER=1 W $D(^HALF)"_s, &error), u"0"_s, 10000);
    QCOMPARE(error, 0);
}

void tst_serverwire::badRequestsAreAnsweredAndTheConnectionStays_data()
{
    QTest::addColumn<QCborMap>("request");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("named"); // the description names what is wrong

    const QCborArray seventeen = [] {
        QCborArray a;
        for (int i = 0; i < 17; ++i)
            a.append(i);
        return a;
    }();
    QTest::newRow("unknown op") << QCborMap{{u"op"_s, u"frobnicate"_s}} << int(Code::Protocol) << u"frobnicate"_s;
    QTest::newRow("open without cls") << QCborMap{{u"op"_s, u"open"_s}, {u"id"_s, u"1"_s}} << int(Code::Protocol)
                                      << u"cls"_s;
    QTest::newRow("unknown class") << QCborMap{{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.Gibtsnicht"_s}, {u"id"_s, u"1"_s}}
                                   << int(Code::UnknownClass) << u"VR.Gibtsnicht"_s;
    QTest::newRow("missing object")
        << QCborMap{{u"op"_s, u"open"_s}, {u"cls"_s, u"vr.parpersedv"_s}, {u"id"_s, u"1||NIEMAND"_s}}
        << int(Code::ObjectNotFound) << u"1||NIEMAND"_s;
    QTest::newRow("class without objects")
        << QCborMap{{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"id"_s, u"1"_s}} << int(Code::UnknownClass)
        << u"VR.Windows"_s;
    QTest::newRow("unknown class method")
        << QCborMap{{u"op"_s, u"call"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"m"_s, u"Zaubern"_s}, {u"a"_s, QCborArray{}}}
        << int(Code::UnknownMethod) << u"Zaubern"_s;
    QTest::newRow("unknown instance method")
        << QCborMap{{u"op"_s, u"icall"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s},
                    {u"m"_s, u"GibtsNichtLogicalToODBC"_s}, {u"a"_s, QCborArray{u"x"_s}}}
        << int(Code::UnknownMethod) << u"GibtsNichtLogicalToODBC"_s;
    QTest::newRow("unknown query")
        << QCborMap{{u"op"_s, u"query"_s}, {u"cls"_s, u"VR.XW"_s}, {u"q"_s, u"Alles"_s}, {u"a"_s, QCborArray{}}}
        << int(Code::UnknownQuery) << u"Alles"_s;
    QTest::newRow("unknown property")
        << QCborMap{{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s},
                    {u"p"_s, QCborMap{{u"Schuhgroesse"_s, 44}}}}
        << int(Code::UnknownProperty) << u"Schuhgroesse"_s;
    QTest::newRow("save of a missing object")
        << QCborMap{{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||NIEMAND"_s},
                    {u"p"_s, QCborMap{{u"PNAME"_s, u"x"_s}}}}
        << int(Code::ObjectNotFound) << u"1||NIEMAND"_s;
    QTest::newRow("id part changed")
        << QCborMap{{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s},
                    {u"p"_s, QCborMap{{u"firma"_s, u"2"_s}}}}
        << int(Code::ReadOnly) << u"Firma"_s;
    QTest::newRow("new object whose id exists")
        << QCborMap{{u"op"_s, u"save"_s}, {u"cls"_s, u"orvanta.param"_s}, {u"id"_s, QCborValue(nullptr)},
                    {u"init"_s, u"1"_s}, {u"p"_s, QCborMap{}}}
        << int(Code::InvalidId) << u"'1'"_s;
    QTest::newRow("17 arguments")
        << QCborMap{{u"op"_s, u"call"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"m"_s, u"Xecute"_s}, {u"a"_s, seventeen}}
        << int(Code::ArgumentCount) << u"16"_s;
    QTest::newRow("Xecute without its line")
        << QCborMap{{u"op"_s, u"call"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"m"_s, u"Xecute"_s}, {u"a"_s, QCborArray{}}}
        << int(Code::ArgumentCount) << u"Xecute"_s;
    QTest::newRow("six query arguments")
        << QCborMap{{u"op"_s, u"query"_s}, {u"cls"_s, u"Varelo.Batch"_s}, {u"q"_s, u"Runs"_s},
                    {u"a"_s, QCborArray{1, 2, 3, 4, 5, 6}}}
        << int(Code::ArgumentCount) << u"Runs"_s;
    QTest::newRow("arguments not a list")
        << QCborMap{{u"op"_s, u"call"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"m"_s, u"Xecute"_s}, {u"a"_s, u"W 1"_s}}
        << int(Code::Protocol) << u"'a'"_s;
    QTest::newRow("class name as SQL")
        << QCborMap{{u"op"_s, u"open"_s}, {u"cls"_s, u"x\"; DROP TABLE globals; --"_s}, {u"id"_s, u"1"_s}}
        << int(Code::UnknownClass) << u"DROP TABLE"_s;
    QTest::newRow("id as SQL")
        << QCborMap{{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1' OR '1'='1"_s}}
        << int(Code::ObjectNotFound) << u"OR"_s;
}

void tst_serverwire::badRequestsAreAnsweredAndTheConnectionStays()
{
    QFETCH(QCborMap, request);
    QFETCH(int, error);
    QFETCH(QString, named);
    RawClient c;
    QVERIFY(c.open(m_server->port()));
    QVERIFY(c.xecute(u"S ^BAD=1"_s).isEmpty());
    const QCborMap answer = c.request(request);
    QCOMPARE(RawClient::errorOf(answer), error);
    QVERIFY2(RawClient::descriptionOf(answer).contains(named), qPrintable(RawClient::descriptionOf(answer)));
    QCOMPARE(c.xecute(u"W ^BAD"_s), u"1"_s);
    const QCborMap opened = c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s}});
    QCOMPARE(opened.value(u"ok"_s).toMap().value(u"p"_s).toMap().value(u"Firma"_s).toString(), u"1"_s);
}

void tst_serverwire::resultSetsComeInBatchesOfTheAskedSize()
{
    RawClient c;
    QVERIFY(c.open(m_server->port()));
    // Over 600 customers begin with "MA".
    int error = -1;
    QCborMap first = c.query(u"VR.Windows"_s, u"KkrSuche"_s, {u"1"_s, u"K"_s, u"MA"_s}, 7, &error);
    QCOMPARE(error, 0);
    QCOMPARE(first.value(u"rows"_s).toArray().size(), 7);
    QVERIFY(first.value(u"more"_s).toBool());
    const qint64 handle = first.value(u"h"_s).toInteger();
    QVERIFY(handle > 0);
    qsizetype total = 7;
    QCborMap batch = c.next(handle, 300, &error);
    QCOMPARE(batch.value(u"rows"_s).toArray().size(), 300);
    total += 300;
    while (batch.value(u"more"_s).toBool()) {
        batch = c.next(handle, 100000, &error); // more than the server allows in one go
        QCOMPARE(error, 0);
        total += batch.value(u"rows"_s).toArray().size();
    }
    QVERIFY(total >= 600);
    // Finished means released.
    c.next(handle, 10, &error);
    QCOMPARE(error, int(Code::BadHandle));

    // The default batch is 500 rows.
    first = c.query(u"VR.Windows"_s, u"KkrSuche"_s, {u"1"_s, u"K"_s, u"MA"_s}, 0, &error);
    QCOMPARE(error, 0);
    QCOMPARE(first.value(u"rows"_s).toArray().size(), 1); // b below 1 counts as 1
    const QCborMap whole = c.request({{u"op"_s, u"query"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"q"_s, u"KkrSuche"_s},
                                      {u"a"_s, QCborArray{u"1"_s, u"K"_s, u"MA"_s}}});
    QCOMPARE(whole.value(u"ok"_s).toMap().value(u"rows"_s).toArray().size(), 500);
}

void tst_serverwire::resultSetHandlesBelongToTheirJob()
{
    RawClient a;
    RawClient b;
    QVERIFY(a.open(m_server->port()));
    QVERIFY(b.open(m_server->port()));
    int error = -1;
    const QCborMap first = a.query(u"VR.Windows"_s, u"KkrSuche"_s, {u"1"_s, u"K"_s, u"MA"_s}, 5, &error);
    const qint64 handle = first.value(u"h"_s).toInteger();
    QVERIFY(handle > 0);
    // Job b has result sets of its own, but a's handle is not one of them.
    QVERIFY(b.query(u"VR.Windows"_s, u"KkrSuche"_s, {u"1"_s, u"K"_s, u"MA"_s}, 5).value(u"h"_s).toInteger() > 0);
    b.next(handle, 5, &error);
    QCOMPARE(error, int(Code::BadHandle));
    QCOMPARE(RawClient::errorOf(b.request({{u"op"_s, u"close"_s}, {u"h"_s, handle}})), int(Code::BadHandle));

    QCOMPARE(a.next(handle, 5, &error).value(u"rows"_s).toArray().size(), 5);
    QVERIFY(a.request({{u"op"_s, u"close"_s}, {u"h"_s, handle}}).contains(u"ok"_s));
    QCOMPARE(RawClient::errorOf(a.request({{u"op"_s, u"close"_s}, {u"h"_s, handle}})), int(Code::BadHandle));
    a.next(handle, 5, &error);
    QCOMPARE(error, int(Code::BadHandle));
}

// Result sets whose statements had to give way are read into memory; one job may hold only
// so much of them, and closing them makes room again.
void tst_serverwire::resultSetsInMemoryAreBoundedPerJob()
{
    TestServer::Options options;
    options.tls = RawClient::tls;
    options.extraArgs = {u"--job-memory"_s, u"1"_s};
    TestServer server(options);
    QVERIFY(server.start());
    RawClient c;
    QVERIFY(c.open(server.port()));
    QList<qint64> handles;
    int error = 0;
    QCborMap refused;
    while (handles.size() < 40 && error == 0) {
        const QCborMap answer = c.request({{u"op"_s, u"query"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"q"_s, u"KkrSuche"_s},
                                           {u"a"_s, QCborArray{u"1"_s, u"K"_s, u""_s}}, {u"b"_s, 1}});
        error = RawClient::errorOf(answer);
        if (error == 0)
            handles << answer.value(u"ok"_s).toMap().value(u"h"_s).toInteger();
        else
            refused = answer;
    }
    QCOMPARE(error, int(Code::BadHandle));
    QVERIFY(handles.size() > 4); // the statements kept open cost nothing
    const QString why = refused.value(u"err"_s).toArray().at(1).toString();
    QVERIFY2(why.contains(u"1 MiB"_s), qPrintable(why));
    // Rows handed out are held no longer: reading on in the first set makes room.
    QVERIFY(c.next(handles.first(), 2500, &error).value(u"more"_s).toBool());
    QVERIFY(c.query(u"VR.Windows"_s, u"KkrSuche"_s, {u"1"_s, u"K"_s, u"A"_s}, 1, &error).value(u"h"_s).toInteger() > 0);
    for (qint64 h : std::as_const(handles))
        QVERIFY(c.request({{u"op"_s, u"close"_s}, {u"h"_s, h}}).contains(u"ok"_s));
    QVERIFY(c.query(u"VR.Windows"_s, u"KkrSuche"_s, {u"1"_s, u"K"_s, u"A"_s}, 1, &error).value(u"h"_s).toInteger() > 0);
}

void tst_serverwire::anonymousConnectionMayOnlySignIn()
{
    RawClient c;
    QVERIFY(c.openAnonymous(m_server->port()));
    // What the sign-in windows need is open; a user record comes without its password.
    const QCborMap user = c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||ADM"_s}});
    const QCborMap p = user.value(u"ok"_s).toMap().value(u"p"_s).toMap();
    QCOMPARE(p.value(u"AKTIV"_s).toString(), u"J"_s);
    QCOMPARE(p.value(u"Passwort"_s).toString(), QString());
    QCOMPARE(p.size(), 10); // nothing of the stored hash either
    int error = -1;
    c.query(u"VR.KassaSW"_s, u"ConnStrg"_s, {0, u""_s}, 10, &error);
    QCOMPARE(error, 0);
    c.call(u"RUZAVAVIR.Menue"_s, u"getStandorte"_s, {u"1"_s}, &error);
    QCOMPARE(error, 0);
    c.xecute(u"S P0=$P(^FA(0),\"`\",2) W P0"_s, &error);
    QCOMPARE(error, 0);

    auto call = [](const QString &cls, const QString &method, const QCborArray &args) {
        return QCborMap{{u"op"_s, u"call"_s}, {u"cls"_s, cls}, {u"m"_s, method}, {u"a"_s, args}};
    };
    const QCborMap mLine = call(u"VR.Windows"_s, u"Xecute"_s, {u"S ^ANON=1"_s});
    const QList<QCborMap> refused = {
        {{u"op"_s, u"save"_s}, {u"cls"_s, u"orvanta.param"_s}, {u"id"_s, u"1"_s},
         {u"p"_s, QCborMap{{u"dbpraefix"_s, u"x"_s}}}},
        // The server list saves the entries it shows; it never makes one.
        {{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.KassaSW"_s}, {u"id"_s, QCborValue(QCborValue::Null)},
         {u"init"_s, QCborValue(QCborValue::Null)}, {u"p"_s, QCborMap{{u"Name"_s, u"Neu"_s}}}},
        call(u"orvanta.wexlkunde"_s, u"Save"_s, {u"1"_s, u""_s, u"orvanta.wexl"_s}),
        call(u"orvanta.wargr"_s, u"Delete"_s, {u"1"_s, u"10001"_s}),
        call(u"orvanta.kond"_s, u"genkond"_s, {u"1"_s, u"orvanta.wexl"_s}),
        mLine,
        // The session's own line, with more after it.
        call(u"VR.Windows"_s, u"Xecute"_s, {u"S FIRMA=1,FIL=0,PERSONAL=\"ADM\" S ^ANON=1"_s}),
        {{u"op"_s, u"query"_s}, {u"cls"_s, u"VR.Windows"_s}, {u"q"_s, u"KkrSuche"_s}, {u"a"_s, QCborArray{u"1"_s, u"K"_s, u"A"_s}}},
    };
    for (const QCborMap &request : refused) {
        const QCborMap answer = c.request(request);
        QVERIFY2(RawClient::errorOf(answer) == Code::SignInRequired, qPrintable(request.toCborValue().toDiagnosticNotation()));
        QVERIFY(RawClient::descriptionOf(answer).startsWith(u"Anmeldung erforderlich: "_s));
    }
    // A wrong password and an inactive user sign nobody in; the M locals never do.
    QCOMPARE(c.checkPassword(u"falsch"_s, u"1"_s, u""_s), QString());
    QCOMPARE(c.checkPassword(u"alt"_s, u"1"_s, u"ALT"_s), u"ALT"_s);
    c.xecute(u"S FIRMA=1,FIL=0,PERSONAL=\"ADM\""_s, &error);
    QCOMPARE(error, 0);
    QCOMPARE(RawClient::errorOf(c.request(mLine)), int(Code::SignInRequired));
    QVERIFY(c.signIn());
    QVERIFY(c.request(mLine).contains(u"ok"_s));
}

void tst_serverwire::wrongPasswordsInARowSlowThatConnection()
{
    RawClient c;
    QVERIFY(c.openAnonymous(m_server->port()));
    QElapsedTimer t;
    for (int i = 0; i < 5; ++i) {
        t.start();
        QCOMPARE(c.checkPassword(u"falsch"_s, u"1"_s, u"ADM"_s), QString());
        QVERIFY(t.elapsed() < 900);
    }
    t.start();
    QCOMPARE(c.checkPassword(u"falsch"_s, u"1"_s, u""_s), QString());
    QVERIFY(t.elapsed() >= 1000);
    // Only that connection waits.
    t.start();
    RawClient other;
    QVERIFY(other.open(m_server->port()));
    QCOMPARE(m_bystander.xecute(u"W 1"_s), u"1"_s);
    QVERIFY(t.elapsed() < 900);
    // The right password waits as well, and ends the run.
    t.start();
    QVERIFY(c.signIn());
    QVERIFY(t.elapsed() >= 1000);
    t.start();
    QCOMPARE(c.checkPassword(u"falsch"_s, u"1"_s, u""_s), QString());
    QVERIFY(t.elapsed() < 900);
}

void tst_serverwire::strangersAreClosedOnTimeOrSize()
{
    QElapsedTimer clock;
    clock.start();
    RawClient silent;
    QVERIFY(silent.connectTo(m_server->port()));
    const QCborMap late = silent.receive(HelloTimeout + 5000);
    QCOMPARE(RawClient::errorOf(late), int(Code::Protocol));
    QVERIFY(RawClient::descriptionOf(late).contains(u"hello"_s));
    QVERIFY(clock.elapsed() >= HelloTimeout - 100);
    QVERIFY(silent.closedByServer());

    // The start of a big frame: cut off at 64 KiB, long before its end or the deadline.
    RawClient big;
    QVERIFY(big.connectTo(m_server->port()));
    QByteArray header(4, '\0');
    qToBigEndian<quint32>(wire::MaxFrame, header.data());
    clock.restart();
    big.sendBytes(header + QByteArray(64 * 1024 + 1, 'x'));
    const QCborMap tooMuch = big.receive();
    QCOMPARE(RawClient::errorOf(tooMuch), int(Code::Protocol));
    QVERIFY(RawClient::descriptionOf(tooMuch).contains(u"64 KiB"_s));
    QVERIFY(clock.elapsed() < HelloTimeout);
    QVERIFY(big.closedByServer());

    // None of it touches a connection that said hello: the bystander has idled far longer.
    QCOMPARE(m_bystander.xecute(u"W 6*7"_s), u"42"_s);
    QVERIFY(m_bystander.request({{u"op"_s, u"ping"_s}}).contains(u"ok"_s));
}

void tst_serverwire::plainClientOfATlsServerIsToldWhy()
{
    if (!RawClient::tls)
        QSKIP("for a server that serves TLS only");
    RawClient old;
    QVERIFY(old.connectPlain(m_server->port()));
    const QCborMap answer = old.request({{u"op"_s, u"hello"_s}, {u"v"_s, 1}, {u"ns"_s, u"VARELO"_s}});
    QCOMPARE(RawClient::errorOf(answer), int(Code::TlsRequired));
    QVERIFY(RawClient::descriptionOf(answer).contains(u"TLS"_s));
    QVERIFY(old.closedByServer());

    // Before the handshake, too, a broken frame is answered once and ends only that connection.
    RawClient broken;
    QVERIFY(broken.connectPlain(m_server->port()));
    broken.sendBytes(rawFrame("\xff\xfe\x00garbage"));
    QCOMPARE(RawClient::errorOf(broken.receive()), int(Code::Protocol));
    QVERIFY(broken.closedByServer());
    QCOMPARE(m_bystander.xecute(u"W 1"_s), u"1"_s);
}

void tst_serverwire::closedConnectionsGiveTheirMemoryBack()
{
    if (RawClient::tls)
        QSKIP("measured without TLS");
    const qint64 before = residentBytes(m_server->pid());
    QVERIFY(before > 0);
    QByteArray start(4, '\0');
    qToBigEndian<quint32>(wire::MaxFrame, start.data());
    start += QByteArray(8 * 1024 * 1024, 'x');
    std::vector<std::unique_ptr<RawClient>> clients(20);
    for (auto &c : clients) {
        c = std::make_unique<RawClient>();
        QVERIFY(c->open(m_server->port()));
        c->sendBytes(start);
    }
    // The server holds what came: 160 MiB in all.
    QTRY_VERIFY_WITH_TIMEOUT(residentBytes(m_server->pid()) > before + 120 * 1024 * 1024, 20000);
    const qint64 held = residentBytes(m_server->pid());
    clients.clear();
    QTRY_VERIFY_WITH_TIMEOUT(residentBytes(m_server->pid()) < before + 32 * 1024 * 1024, 10000);
    qInfo("server resident: %lld MB before, %lld MB holding the frames, %lld MB after they closed", before >> 20,
          held >> 20, residentBytes(m_server->pid()) >> 20);
}

QTEST_GUILESS_MAIN(tst_serverwire)
#include "tst_serverwire.moc"
