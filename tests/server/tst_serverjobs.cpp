// Jobs side by side: their own locals, job numbers and list handles; result sets that
// stream while other jobs write; batch runs recorded once their call is committed.
#include "factory/factory.h"
#include "factory/signin.h"
#include "tests/server/rawclient.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>

#include <optional>

#include <thread>

using namespace Qt::StringLiterals;
namespace Code = factory::ErrorCode;

namespace {
QString x(factory::Factory &f, const QString &line) { return f.Static(u"VR.Windows"_s)->call(u"Xecute"_s, {line}).toString(); }

struct Run
{
    QString id, job, tenant, args, started, ended, outcome, state, startedBy, outputFile;
};

QList<Run> runs(factory::Factory &f, const QVariantList &args = {})
{
    QList<Run> list;
    auto rs = f.ResultSet(u"Varelo.Batch"_s, u"Runs"_s);
    rs->Execute(args);
    while (rs->Next()) {
        list.append({rs->GetData(1).toString(), rs->GetData(2).toString(), rs->GetData(3).toString(),
                     rs->GetData(4).toString(), rs->GetData(5).toString(), rs->GetData(6).toString(),
                     rs->GetData(7).toString(), rs->GetData(8).toString(), rs->GetData(9).toString(),
                     rs->GetData(10).toString()});
    }
    rs->Close();
    return list;
}

// On PostgreSQL the runs of a tenant take turns through a lock in the database; held from
// here it stands for a run of another server. Released with the object.
class TenantRunLock
{
public:
    explicit TenantRunLock(const TestServer &server)
    {
        QSqlDatabase db = TestServer::openDatabase(server.storeUri(), Name);
        m_held = db.isOpen() && db.transaction()
                 && QSqlQuery(db).exec(u"SELECT pg_advisory_xact_lock(hashtext('VARELO'), hashtext('1'))"_s);
    }
    ~TenantRunLock()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(Name, false);
            db.rollback();
            db.close();
        }
        QSqlDatabase::removeDatabase(Name);
    }
    bool held() const { return m_held; }

private:
    static inline const QString Name = QStringLiteral("runlock");
    bool m_held = false;
};

QStringList listRows(factory::Factory &f, const QVariant &handle)
{
    QStringList rows;
    auto rs = f.ResultSet(u"VR.XW"_s, u"Liste"_s);
    rs->Execute({handle});
    while (rs->Next())
        rows.append(rs->GetData(1).toString());
    return rows;
}
} // namespace

class tst_serverjobs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void jobsKeepTheirOwnLocalsAndNumbers();
    void manyConnectionsAtOnce();
    void listHandlesBelongToTheirJobAndAreReadOnce();
    void streamingResultSetSurvivesWritesOfOthersAndItsOwn();
    void queriesSeeCommitsWhileOtherResultSetsStream();
    void openAnswersCanonicalNamesAndDisplayForms();
    void idPartsGivenAsNumbersAreKeptAsText();
    void serverNumberedObjects();
    void batchRunIsRecordedAfterTheCall();
    void batchOfAnUndoneTransactionNeverStarts();
    void poolQueuesAndAKilledServersRunsReadCutOff();
    void twoServersOnOneDatabase();

private:
    std::unique_ptr<TestServer> m_server;
    factory::Factory m_a;
    factory::Factory m_b;
};

void tst_serverjobs::initTestCase()
{
    m_server = std::make_unique<TestServer>();
    QVERIFY(m_server->start());
}

void tst_serverjobs::init()
{
    for (factory::Factory *f : {&m_a, &m_b})
        if (!f->IsConnected())
            QVERIFY(m_server->connect(*f));
}

void tst_serverjobs::jobsKeepTheirOwnLocalsAndNumbers()
{
    QVERIFY(m_a.jobNumber() != m_b.jobNumber());
    x(m_a, u"S FIRMA=1,X(1)=\"a\""_s);
    x(m_b, u"S FIRMA=2"_s);
    QCOMPARE(x(m_a, u"W FIRMA,$G(X(1)),\"/\",$J"_s), u"1a/"_s + QString::number(m_a.jobNumber()));
    QCOMPARE(x(m_b, u"W FIRMA,$G(X(1)),\"/\",$J"_s), u"2/"_s + QString::number(m_b.jobNumber()));

    // A new connection is a new job with no locals.
    factory::Factory c;
    QVERIFY(m_server->connect(c));
    QCOMPARE(x(c, u"W $D(FIRMA)"_s), u"0"_s);
    QVERIFY(c.jobNumber() != m_a.jobNumber() && c.jobNumber() != m_b.jobNumber());
}

void tst_serverjobs::manyConnectionsAtOnce()
{
    constexpr int Count = 40;
    std::vector<std::unique_ptr<RawClient>> clients;
    QSet<QString> jobs;
    for (int i = 0; i < Count; ++i) {
        auto c = std::make_unique<RawClient>();
        QVERIFY(c->open(m_server->port()));
        c->xecute(u"S N="_s + QString::number(i));
        clients.push_back(std::move(c));
    }
    for (int i = 0; i < Count; ++i) {
        int error = -1;
        QCOMPARE(clients[i]->xecute(u"W N"_s, &error), QString::number(i));
        jobs.insert(clients[i]->xecute(u"W $J"_s));
    }
    QCOMPARE(jobs.size(), Count);
    clients.clear();
    // Every job is logged as opened and closed.
    QTRY_COMPARE(m_server->log().count(u"connection closed"_s) >= Count, true);
    QCOMPARE(x(m_a, u"W 1"_s), u"1"_s);
}

void tst_serverjobs::listHandlesBelongToTheirJobAndAreReadOnce()
{
    const QVariant handle = m_a.Static(u"orvanta.atyp"_s)->call(u"getatyp"_s, {u"1"_s});
    QVERIFY(handle.toInt() > 0);
    try {
        listRows(m_b, handle);
        QFAIL("job b read job a's list");
    } catch (const factory::Error &e) {
        QCOMPARE(e.number(), int(Code::BadHandle));
        QVERIFY(e.description().contains(handle.toString()));
    }
    const QStringList rows = listRows(m_a, handle);
    QVERIFY(rows.size() >= 5);
    QVERIFY(rows.contains(u"N|Normalartikel|1"_s));
    try {
        listRows(m_a, handle);
        QFAIL("a list was read twice");
    } catch (const factory::Error &e) {
        QCOMPARE(e.number(), int(Code::BadHandle));
    }
    QVERIFY(listRows(m_a, 0).isEmpty()); // 0 = no list
    try {
        listRows(m_a, u"kein Handle"_s);
        QFAIL("a text was taken for a handle");
    } catch (const factory::Error &e) {
        QCOMPARE(e.number(), int(Code::BadHandle));
    }
}

void tst_serverjobs::streamingResultSetSurvivesWritesOfOthersAndItsOwn()
{
    RawClient reader;
    RawClient writer;
    QVERIFY(reader.open(m_server->port()));
    QVERIFY(writer.open(m_server->port()));
    const QCborArray args{u"1"_s, u"K"_s, u"MA"_s};

    // The whole result in one go, to compare with.
    int error = -1;
    qsizetype expected = 0;
    {
        QCborMap batch = reader.query(u"VR.Windows"_s, u"KkrSuche"_s, args, 10000, &error);
        QCOMPARE(error, 0);
        expected = batch.value(u"rows"_s).toArray().size();
        QVERIFY(!batch.value(u"more"_s).toBool());
    }

    QCborMap batch = reader.query(u"VR.Windows"_s, u"KkrSuche"_s, args, 10, &error);
    const qint64 handle = batch.value(u"h"_s).toInteger();
    qsizetype seen = batch.value(u"rows"_s).toArray().size();
    int round = 0;
    while (batch.value(u"more"_s).toBool()) {
        // Another job commits: the reading job sees it at once, then writes itself; neither
        // may fail or disturb the rows still to come.
        const QString r = QString::number(round);
        writer.xecute(u"S ^STREAM("_s + r + u")=1"_s, &error);
        QCOMPARE(error, 0);
        QCOMPARE(reader.xecute(u"W $D(^STREAM("_s + r + u"))"_s, &error), u"1"_s);
        reader.xecute(u"S ^STREAMR("_s + r + u")=$D(^STREAM("_s + r + u"))"_s, &error);
        QCOMPARE(error, 0);
        QCOMPARE(writer.xecute(u"W ^STREAMR("_s + r + u")"_s), u"1"_s);
        batch = reader.next(handle, 50, &error);
        QCOMPARE(error, 0);
        seen += batch.value(u"rows"_s).toArray().size();
        ++round;
    }
    QCOMPARE(seen, expected);
    QVERIFY(round > 5);
    reader.xecute(u"K ^STREAM,^STREAMR"_s);
}

void tst_serverjobs::queriesSeeCommitsWhileOtherResultSetsStream()
{
    RawClient reader;
    RawClient other;
    QVERIFY(reader.open(m_server->port()));
    QVERIFY(other.open(m_server->port()));
    const QCborArray search{u"1"_s, u"K"_s, u"MA"_s};
    int error = -1;
    const qsizetype total = reader.query(u"VR.Windows"_s, u"KkrSuche"_s, search, 10000, &error)
                                .value(u"rows"_s)
                                .toArray()
                                .size();
    auto setPassword = [](RawClient &c, const QString &password) {
        return c.request({{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s},
                          {u"p"_s, QCborMap{{u"Passwort"_s, password}}}});
    };
    auto owner = [&](const QString &password) {
        const QCborMap rows = reader.query(u"VR.ParPersEdv"_s, u"UserViaPasswort"_s, {password, u"1"_s}, 10, &error);
        const QCborArray list = rows.value(u"rows"_s).toArray();
        return list.isEmpty() ? QString() : list.at(0).toArray().at(0).toString();
    };

    // More half-read result sets than the job keeps connections for.
    QList<qint64> handles;
    for (int i = 0; i < 6; ++i) {
        handles.append(reader.query(u"VR.Windows"_s, u"KkrSuche"_s, search, 3, &error).value(u"h"_s).toInteger());
        QCOMPARE(error, 0);
        const QString password = u"neu"_s + QString::number(i);
        QVERIFY(setPassword(i % 2 ? reader : other, password).contains(u"ok"_s));
        QCOMPARE(owner(password), u"MUE"_s);
    }
    for (qint64 handle : std::as_const(handles)) {
        qsizetype seen = 3;
        for (;;) {
            const QCborMap batch = reader.next(handle, 200, &error);
            QCOMPARE(error, 0);
            seen += batch.value(u"rows"_s).toArray().size();
            if (!batch.value(u"more"_s).toBool())
                break;
        }
        QCOMPARE(seen, total);
    }
    QVERIFY(setPassword(other, u"mueller"_s).contains(u"ok"_s));
}

void tst_serverjobs::openAnswersCanonicalNamesAndDisplayForms()
{
    RawClient c;
    QVERIFY(c.open(m_server->port()));
    const QCborMap answer =
        c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"vr.PARPERSEDV"_s}, {u"id"_s, u"1||MUE"_s}}).value(u"ok"_s).toMap();
    QCOMPARE(answer.value(u"cls"_s).toString(), u"VR.ParPersEdv"_s);
    QCOMPARE(answer.value(u"id"_s).toString(), u"1||MUE"_s);
    const QCborMap p = answer.value(u"p"_s).toMap();
    QCOMPARE(p.value(u"PNAME"_s).toString(), u"J}rgen M}ller"_s); // server form
    QCOMPARE(answer.value(u"d"_s).toMap().value(u"PNAME"_s).toString(), u"Jürgen Müller"_s);
    // A conversion of another value goes to the server.
    const QCborMap conv = c.request({{u"op"_s, u"icall"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s},
                                     {u"m"_s, u"pnameLogicalToODBC"_s}, {u"a"_s, QCborArray{u"B{r"_s}}});
    QCOMPARE(conv.value(u"ok"_s).toString(), u"Bär"_s);
    const QCborMap own = c.request({{u"op"_s, u"icall"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||MUE"_s},
                                    {u"m"_s, u"PNAMELogicalToODBC"_s}, {u"a"_s, QCborArray{}}});
    QCOMPARE(own.value(u"ok"_s).toString(), u"Jürgen Müller"_s);

    // Every server-form character, and the characters next to them, which stay as they are.
    const QList<std::pair<QString, QString>> forms = {
        {u"[\\]{|}~õ"_s, u"ÄÖÜäöüß§"_s}, {u"Abs. õ 5"_s, u"Abs. § 5"_s}, {u"Z^_`z\x7fô"_s, u"Z^_`z\x7fô"_s}};
    for (const auto &[stored, shown] : forms) {
        const QString code = u"ZEICHEN"_s + QString::number(forms.indexOf({stored, shown}));
        const QCborMap saved =
            c.request({{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, QCborValue(nullptr)},
                       {u"p"_s, QCborMap{{u"FIRMA"_s, 1}, {u"code"_s, code}, {u"PNAME"_s, stored}}}});
        const QString id = saved.value(u"ok"_s).toMap().value(u"id"_s).toString();
        const QCborMap opened =
            c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, id}}).value(u"ok"_s).toMap();
        QCOMPARE(opened.value(u"p"_s).toMap().value(u"PNAME"_s).toString(), stored);
        QCOMPARE(opened.value(u"d"_s).toMap().value(u"PNAME"_s).toString(), shown);
    }
}

void tst_serverjobs::idPartsGivenAsNumbersAreKeptAsText()
{
    RawClient c;
    QVERIFY(c.open(m_server->port()));
    const QCborMap saved = c.request({{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, QCborValue(nullptr)},
                                      {u"p"_s, QCborMap{{u"FIRMA"_s, 1}, {u"code"_s, u"ZAHL"_s}, {u"Passwort"_s, u"eins"_s},
                                                        {u"AKTIV"_s, u"J"_s}}}});
    const QCborMap ok = saved.value(u"ok"_s).toMap();
    QCOMPARE(ok.value(u"id"_s).toString(), u"1||ZAHL"_s);
    QCOMPARE(ok.value(u"p"_s).toMap().value(u"Firma"_s).toString(), u"1"_s);
    // Found by the tenant as text, the way every caller asks.
    int error = -1;
    const QCborMap rows = c.query(u"VR.ParPersEdv"_s, u"UserViaPasswort"_s, {u"eins"_s, u"1"_s}, 10, &error);
    QCOMPARE(error, 0);
    QCOMPARE(rows.value(u"rows"_s).toArray().size(), 1);
    // Saving the object again answers the same id.
    const QCborMap again = c.request({{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.ParPersEdv"_s}, {u"id"_s, u"1||ZAHL"_s},
                                      {u"p"_s, QCborMap{{u"Firma"_s, 1}, {u"PNAME"_s, u"Zahl"_s}}}});
    QCOMPARE(again.value(u"ok"_s).toMap().value(u"id"_s).toString(), u"1||ZAHL"_s);
}

void tst_serverjobs::serverNumberedObjects()
{
    RawClient c;
    QVERIFY(c.open(m_server->port()));
    auto saveNew = [&](const QString &name) {
        return c.request({{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.KassaSW"_s}, {u"id"_s, QCborValue(nullptr)},
                          {u"p"_s, QCborMap{{u"Name"_s, name}, {u"ip"_s, u"10.0.0.1"_s}, {u"PORT"_s, 1972}}}})
            .value(u"ok"_s)
            .toMap();
    };
    const QCborMap first = saveNew(u"Test eins"_s);
    const QCborMap second = saveNew(u"Test zwei"_s);
    const qint64 id = first.value(u"id"_s).toString().toLongLong();
    QVERIFY(id >= 3); // 0 to 2 are the demo entries
    QCOMPARE(second.value(u"id"_s).toString(), QString::number(id + 1));
    const QCborMap opened = c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.KassaSW"_s}, {u"id"_s, QString::number(id)}})
                                .value(u"ok"_s)
                                .toMap();
    QCOMPARE(opened.value(u"p"_s).toMap().value(u"Name"_s).toString(), u"Test eins"_s);
    // Values are late-bound: SQLite keeps a number's kind, PostgreSQL keeps its text.
    const QCborValue savedPort = opened.value(u"p"_s).toMap().value(u"PORT"_s);
    QCOMPARE(TestServer::postgres() ? savedPort.toString().toInt() : savedPort.toInteger(), 1972);
    // The client may not set the read-only mirror of the id.
    const QCborMap refused = c.request({{u"op"_s, u"save"_s}, {u"cls"_s, u"VR.KassaSW"_s}, {u"id"_s, QString::number(id)},
                                        {u"p"_s, QCborMap{{u"sys_ID"_s, 99}}}});
    QCOMPARE(RawClient::errorOf(refused), int(Code::ReadOnly));
    const QCborMap bad = c.request({{u"op"_s, u"open"_s}, {u"cls"_s, u"VR.KassaSW"_s}, {u"id"_s, u"eins"_s}});
    QCOMPARE(RawClient::errorOf(bad), int(Code::InvalidId));
}

void tst_serverjobs::batchRunIsRecordedAfterTheCall()
{
    const int before = int(runs(m_a).size());
    QCOMPARE(m_a.Static(u"orvanta.kond"_s)->call(u"genkond"_s, {u"1"_s, u"orvanta.wexl"_s}).toInt(), 1);
    QCOMPARE(m_a.Static(u"orvanta.kond"_s)->call(u"genkond"_s, {u"1"_s, u"orvanta.wexl"_s}).toInt(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(runs(m_b).size() == before + 2 && !runs(m_b).first().ended.isEmpty()
                                 && !runs(m_b).at(1).ended.isEmpty(),
                             30000);
    const QList<Run> list = runs(m_b);
    const Run &newest = list.first();
    QCOMPARE(newest.job, u"genkond"_s);
    QCOMPARE(newest.tenant, u"1"_s);
    QCOMPARE(newest.args, u"1|orvanta.wexl"_s);
    QVERIFY2(newest.outcome.startsWith(u"ok"_s), qPrintable(newest.outcome));
    QCOMPARE(newest.state, u"fertig"_s);
    QVERIFY(newest.id.toInt() > list.at(1).id.toInt()); // newest first
    const QList<Run> limited = runs(m_b, {u"1"_s, 1});
    QCOMPARE(limited.size(), 1);
    QCOMPARE(limited.first().id, newest.id);
    QVERIFY(!newest.started.isEmpty() && newest.ended >= newest.started);
}

void tst_serverjobs::batchOfAnUndoneTransactionNeverStarts()
{
    // Wait until earlier runs are all ended, then count.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QList<Run> list = runs(m_a);
            return std::all_of(list.begin(), list.end(), [](const Run &r) { return !r.ended.isEmpty(); });
        }(),
        30000);
    const qsizetype before = runs(m_a).size();
    x(m_a, u"TSTART"_s);
    m_a.Static(u"orvanta.kond"_s)->call(u"genkond"_s, {u"1"_s, u"orvanta.wexl"_s});
    QTest::qWait(300);
    QCOMPARE(runs(m_b).size(), before); // not before the commit
    x(m_a, u"TROLLBACK"_s);
    QTest::qWait(500);
    QCOMPARE(runs(m_b).size(), before);

    // Committed by TCOMMIT: starts then.
    x(m_a, u"TSTART"_s);
    m_a.Static(u"orvanta.kond"_s)->call(u"genkond"_s, {u"1"_s, u"orvanta.wexl"_s});
    x(m_a, u"TCOMMIT"_s);
    QTRY_COMPARE_WITH_TIMEOUT(runs(m_b).size(), before + 1, 10000);
}

void tst_serverjobs::poolQueuesAndAKilledServersRunsReadCutOff()
{
    TestServer::Options options;
    options.extraArgs = {u"--batch-workers"_s, u"1"_s};
    TestServer server(options);
    QVERIFY(server.start());
    factory::Factory holder, starter;
    QVERIFY(server.connect(holder));
    QVERIFY(server.connect(starter));
    // The first run waits for the holder (SQLite's write lock; on PostgreSQL the lock each run
    // of the tenant takes, held from outside); the second waits for the one worker.
    x(holder, u"TSTART  S ^HALT=1"_s);
    std::optional<TenantRunLock> runLock;
    if (TestServer::postgres())
        QVERIFY(runLock.emplace(server).held());
    // The run names the user the connection signed in as, not what its locals claim.
    QCOMPARE(factory::checkPassword(starter, u"mueller"_s, u"1"_s, u"MUE"_s), u"MUE"_s);
    x(starter, u"S FIRMA=1,PERSONAL=\"ADM\""_s);
    for (const QString &job : {u"genartikel"_s, u"genkond"_s}) {
        const QString cls = job == u"genkond" ? u"orvanta.kond"_s : u"orvanta.wexlartikel"_s;
        QCOMPARE(starter.Static(cls)->call(job, {u"1"_s, u"orvanta.wexl"_s}).toInt(), 1);
    }
    const auto states = [&] {
        QStringList list;
        for (const Run &r : runs(starter, {u"1"_s, 10}))
            list << r.job + u'|' + r.state + u'|' + r.startedBy;
        return list;
    };
    QTRY_COMPARE_WITH_TIMEOUT(states(), (QStringList{u"genkond|wartet|MUE"_s, u"genartikel|läuft|MUE"_s}), 5000);
    QCOMPARE(runs(starter).first().outcome, u"wartet"_s);

    server.kill();
    QVERIFY(server.restart());
    factory::Factory reader;
    QVERIFY(server.connect(reader));
    const QList<Run> after = runs(reader);
    QCOMPARE(after.size(), 2);
    for (const Run &r : after) {
        QCOMPARE(r.state, u"Fehler"_s);
        QCOMPARE(r.outcome, u"Fehler: abgebrochen (Server beendet)"_s);
    }
}

// Servers on one PostgreSQL database answer alike: what one commits the other reads, a job
// transaction on one holds up no other row on the other, and a tenant's runs take turns
// across both and are seen in the run records of both.
void tst_serverjobs::twoServersOnOneDatabase()
{
    if (!TestServer::postgres())
        QSKIP("needs the PostgreSQL cluster of tests/support/with-postgres");
    TestServer::Options options;
    options.dataDir = m_server->dataDir(); // the same database and password key
    options.seedDemo = false;
    TestServer other(options);
    QVERIFY(other.start());
    factory::Factory a, b;
    QVERIFY(m_server->connect(a));
    QVERIFY(other.connect(b));

    a.Static(u"orvanta.wexlkunde"_s)->call(u"Save"_s, {u"1"_s, u"10001"_s, u"orvanta.wexl"_s});
    QCOMPARE(listRows(b, b.Static(u"orvanta.wexlkunde"_s)->call(u"getkund"_s, {u"1"_s, u"orvanta.wexl"_s})).size(), 1);

    x(a, u"TSTART  S ^ZWEI(1)=1"_s);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(x(b, u"S ^ZWEI(2)=2 W $D(^ZWEI(1))_^ZWEI(2)"_s), u"02"_s);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    x(a, u"TCOMMIT"_s);
    QCOMPARE(x(b, u"W ^ZWEI(1)"_s), u"1"_s);

    std::optional<TenantRunLock> lock;
    QVERIFY(lock.emplace(*m_server).held());
    x(a, u"S FIRMA=1"_s);
    x(b, u"S FIRMA=1"_s);
    QCOMPARE(a.Static(u"orvanta.wexlartikel"_s)->call(u"genartikel"_s, {u"1"_s, u"orvanta.wexl"_s}).toInt(), 1);
    QCOMPARE(b.Static(u"orvanta.wexlartikel"_s)->call(u"genartikel"_s, {u"1"_s, u"orvanta.wexl"_s}).toInt(), 1);
    const auto outcomes = [&](factory::Factory &f) {
        QStringList list;
        for (const Run &r : runs(f, {u"1"_s, 2}))
            list << r.state + u": "_s + r.outcome.section(u": "_s, -1);
        return list;
    };
    const QString waiting = u"läuft: wartet auf einen anderen Lauf dieses Mandanten"_s;
    QTRY_COMPARE_WITH_TIMEOUT(outcomes(a), (QStringList{waiting, waiting}), 5000);
    QCOMPARE(outcomes(b), outcomes(a));
    lock.reset();
    QTRY_VERIFY_WITH_TIMEOUT(outcomes(b).filter(u"fertig"_s).size() == 2, 10000);
}

QTEST_GUILESS_MAIN(tst_serverjobs)
#include "tst_serverjobs.moc"
