// Transactions and M command lines end to end: per-call atomicity, job transactions over
// several calls (TSTART/TCOMMIT/TROLLBACK), what a dropped connection or a stopped server
// leaves, and globals kept across connections and restarts.
#include "factory/factory.h"
#include "tests/server/rawclient.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;
namespace Code = factory::ErrorCode;

namespace {
QString x(factory::Factory &f, const QString &line) { return f.Static(u"VR.Windows"_s)->call(u"Xecute"_s, {line}).toString(); }

// The error a line answers (0: none).
int xError(factory::Factory &f, const QString &line, QString *description = nullptr)
{
    try {
        x(f, line);
        return 0;
    } catch (const factory::Error &e) {
        if (description)
            *description = e.description();
        return e.number();
    }
}

// A new orvanta.param for tenant 2 or 3 (they have none in the demo data).
void saveParam(factory::Factory &f, const QString &tenant, const QString &prefix)
{
    auto p = f.New(u"orvanta.param"_s, tenant);
    p->set(u"dbpraefix"_s, prefix);
    p->sys_Save();
}

bool hasParam(factory::Factory &f, const QString &tenant = u"2"_s)
{
    try {
        f.OpenId(u"orvanta.param"_s, tenant);
        return true;
    } catch (const factory::Error &e) {
        if (e.number() != Code::ObjectNotFound)
            throw;
        return false;
    }
}

// Another program's connection to the server's database file, for as long as it lives.
class Outsider
{
public:
    Outsider(const QString &file, const QString &options)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, Name);
        db.setDatabaseName(file);
        db.setConnectOptions(options);
        m_open = db.open();
    }
    ~Outsider() { QSqlDatabase::removeDatabase(Name); }
    bool isOpen() const { return m_open; }
    QSqlQuery query() const { return QSqlQuery(QSqlDatabase::database(Name, false)); }

private:
    static inline const QString Name = QStringLiteral("outsider");
    bool m_open = false;
};
} // namespace

class tst_servertx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void linesRunInTheJobAndKeepLocals();
    void errorLinesAnswerTheirMErrorAndChangeNothing();
    void globalSubtreesAnswerDataAndKill();
    void trollbackUndoesEverySinceTstart();
    void tcommitPublishesSeveralCallsAtOnce();
    void nestedTstartCommitsOnlyAtTheOutermost();
    void failingCallInsideATransactionUndoesOnlyItself();
    void droppedConnectionUndoesItsTransactionAndFreesTheLock();
    void readersDoNotWaitForAnotherJobsTransaction();
    void concurrentReadModifyWriteLosesNothing();
    void globalsSurviveReconnectAndRestart();
    void exclusiveDataKeepsOtherProgramsOut();
    void readersLeaveTheWalToCheckpointsAndOtherPrograms();
    void stoppedServerKeepsNothingUncommitted();
    void runawayLinesAndIdleTransactionsFreeTheLock();

private:
    factory::Factory &connected(factory::Factory &f);

    std::unique_ptr<TestServer> m_server;
    factory::Factory m_a;
    factory::Factory m_b;
};

void tst_servertx::initTestCase()
{
    m_server = std::make_unique<TestServer>();
    QVERIFY(m_server->start());
}

factory::Factory &tst_servertx::connected(factory::Factory &f)
{
    if (!f.IsConnected())
        m_server->connect(f);
    return f;
}

void tst_servertx::init()
{
    QVERIFY(connected(m_a).IsConnected());
    QVERIFY(connected(m_b).IsConnected());
}

void tst_servertx::cleanup()
{
    // No test leaves a transaction or test data behind for the next one.
    if (m_a.IsConnected())
        m_a.Disconnect();
    if (m_b.IsConnected())
        m_b.Disconnect();
    factory::Factory f;
    if (m_server->connect(f))
        x(f, u"K ^T,^U,^V"_s);
}

void tst_servertx::linesRunInTheJobAndKeepLocals()
{
    QCOMPARE(x(m_a, u"W 1+2*3,!,\"a\"\"b\"_$L(\"xyz\")"_s), u"9\r\na\"b3"_s);
    QCOMPARE(x(m_a, u"W $J"_s), QString::number(m_a.jobNumber()));
    QCOMPARE(x(m_a, u"S X=5,Y=\"a||b||c\""_s), QString());
    QCOMPARE(x(m_a, u"W X+1,$P(Y,\"||\",2)"_s), u"6b"_s);
    QCOMPARE(x(m_a, u"D ^%XTT W \"ok\""_s), u"ok"_s);
    QCOMPARE(x(m_a, u"K X W $D(X),$G(X,\"weg\")"_s), u"0weg"_s);
}

void tst_servertx::errorLinesAnswerTheirMErrorAndChangeNothing()
{
    struct Case
    {
        QString line;
        QString name;
    };
    const QList<Case> cases = {
        {u"S ^T=1,Z=1 W UNDEF"_s, u"<UNDEFINED>"_s},
        {u"S ^T=1,Z=1 W 1/0"_s, u"<DIVIDE>"_s},
        {u"S ^T=1,Z=1 ZZAP"_s, u"<COMMAND>"_s},
        {u"S ^T=1,Z=1 W \"offen"_s, u"<SYNTAX>"_s},
        {u"S ^T=1,Z=1 D ^GIBTSNICHT"_s, u"GIBTSNICHT"_s},
    };
    for (const Case &c : cases) {
        QString description;
        const int number = xError(m_a, c.line, &description);
        QVERIFY2(number > Code::MError && number < Code::MError + 1000, qPrintable(c.line));
        QVERIFY2(description.contains(c.name), qPrintable(c.line + u" -> "_s + description));
        QCOMPARE(x(m_a, u"W $D(^T),$D(Z)"_s), u"00"_s);
    }
}

void tst_servertx::globalSubtreesAnswerDataAndKill()
{
    x(m_a, u"S ^T(1)=\"a\",^T(1,2)=\"b\",^T(1,2,3)=\"c\",^T(10)=\"d\",^T(\"x|y\",$J)=\"e\""_s);
    QCOMPARE(x(m_b, u"W $D(^T),$D(^T(1)),$D(^T(1,2,3)),$D(^T(2)),$D(^T(1,3))"_s), u"1011100"_s);
    QCOMPARE(x(m_b, u"W ^T(\"x|y\","_s + QString::number(m_a.jobNumber()) + u")"_s), u"e"_s);
    x(m_b, u"K ^T(1,2)"_s);
    // ^T(10) shares a leading digit with ^T(1) but is no child of it.
    QCOMPARE(x(m_a, u"W $D(^T(1)),$D(^T(1,2)),$D(^T(1,2,3)),$G(^T(10))"_s), u"100d"_s);
    x(m_a, u"K ^T"_s);
    QCOMPARE(x(m_b, u"W $D(^T),$D(^T(10))"_s), u"00"_s);
}

void tst_servertx::trollbackUndoesEverySinceTstart()
{
    x(m_a, u"TSTART"_s);
    saveParam(m_a, u"2"_s, u"test.eins"_s);
    x(m_a, u"S ^T=1"_s);
    QCOMPARE(x(m_a, u"W $TLEVEL,$D(^T)"_s), u"11"_s);
    QVERIFY(hasParam(m_a)); // the job sees its own writes
    x(m_a, u"TROLLBACK"_s);
    QCOMPARE(x(m_a, u"W $TLEVEL,$D(^T)"_s), u"00"_s);
    QVERIFY(!hasParam(m_a));
    QVERIFY(!hasParam(m_b));
}

void tst_servertx::tcommitPublishesSeveralCallsAtOnce()
{
    x(m_a, u"TSTART"_s);
    saveParam(m_a, u"3"_s, u"test.drei"_s);
    x(m_a, u"S ^T=1"_s);
    x(m_a, u"S ^U=2"_s);
    QCOMPARE(x(m_b, u"W $D(^T),$D(^U)"_s), u"00"_s);
    QVERIFY(!hasParam(m_b, u"3"_s));
    x(m_a, u"TCOMMIT"_s);
    QCOMPARE(x(m_b, u"W $D(^T),$D(^U)"_s), u"11"_s);
    QCOMPARE(m_b.OpenId(u"orvanta.param"_s, u"3"_s)->get(u"dbpraefix"_s).toString(), u"test.drei"_s);
}

void tst_servertx::nestedTstartCommitsOnlyAtTheOutermost()
{
    x(m_a, u"TSTART  S ^T=1 TSTART  S ^U=1"_s);
    QCOMPARE(x(m_a, u"TCOMMIT  W $TLEVEL"_s), u"1"_s);
    QCOMPARE(x(m_b, u"W $D(^T),$D(^U)"_s), u"00"_s);
    QCOMPARE(x(m_a, u"TCOMMIT  W $TLEVEL"_s), u"0"_s);
    QCOMPARE(x(m_b, u"W $D(^T),$D(^U)"_s), u"11"_s);
    QVERIFY(xError(m_a, u"TCOMMIT"_s) > Code::MError);
    QCOMPARE(x(m_a, u"TROLLBACK  W $TLEVEL"_s), u"0"_s); // nothing open: nothing to undo
    QCOMPARE(x(m_b, u"W $D(^T)"_s), u"1"_s);
}

void tst_servertx::failingCallInsideATransactionUndoesOnlyItself()
{
    x(m_a, u"TSTART  S ^T=1"_s);
    QVERIFY(xError(m_a, u"S ^U=1 W 1/0"_s) > Code::MError);
    // A save the class refuses: tenant 99 does not exist.
    auto refused = m_a.New(u"orvanta.param"_s, u"99"_s);
    try {
        refused->sys_Save();
        QFAIL("saved a parameter object for a tenant that does not exist");
    } catch (const factory::Error &e) {
        QCOMPARE(e.number(), int(Code::Refused));
    }
    // A line that opens a further level and fails leaves the level as it was.
    QVERIFY(xError(m_a, u"TSTART  S ^V=1 W UNDEF"_s) > Code::MError);
    QCOMPARE(x(m_a, u"W $TLEVEL,$D(^T),$D(^U),$D(^V)"_s), u"1100"_s);
    x(m_a, u"S ^V=2 TCOMMIT"_s);
    QCOMPARE(x(m_b, u"W $D(^T),$D(^U),$G(^V)"_s), u"102"_s);

    // A failing line that opened the job's first transaction leaves none open.
    QVERIFY(xError(m_a, u"TSTART  S ^U=1 W 1/0"_s) > Code::MError);
    QCOMPARE(x(m_a, u"W $TLEVEL,$D(^U)"_s), u"00"_s);
    QCOMPARE(x(m_b, u"S ^U=3 W ^U"_s), u"3"_s); // and no lock either
}

void tst_servertx::droppedConnectionUndoesItsTransactionAndFreesTheLock()
{
    {
        RawClient raw;
        QVERIFY(raw.open(m_server->port()));
        int error = -1;
        raw.xecute(u"TSTART  S ^T=1"_s, &error);
        QCOMPARE(error, 0);
        raw.abort();
    }
    // Writers may wait while the server notices the dropped connection, never longer.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(x(m_b, u"S ^U=1 W $D(^T)"_s), u"0"_s);
    QVERIFY(clock.elapsed() < 5000);

    x(m_a, u"TSTART"_s);
    saveParam(m_a, u"2"_s, u"test.weg"_s);
    m_a.Disconnect();
    QTRY_VERIFY_WITH_TIMEOUT(!hasParam(m_b), 5000);
    QTRY_VERIFY(m_server->log().contains(u"inside a transaction, rolled back"_s));
}

void tst_servertx::readersDoNotWaitForAnotherJobsTransaction()
{
    x(m_a, u"TSTART  S ^T=1"_s);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(x(m_b, u"W $D(^T)"_s), u"0"_s);
    QCOMPARE(m_b.OpenId(u"VR.ParPersEdv"_s, u"1||MUE"_s)->get(u"AKTIV"_s).toString(), u"J"_s);
    auto rs = m_b.ResultSet(u"orvanta.param"_s, u"list"_s);
    rs->Execute();
    QVERIFY(rs->Next());
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    // A writer of the same node waits for the transaction and goes on from what it committed.
    int writerError = -1;
    QString writerSaw;
    const quint16 port = m_server->port();
    std::thread writer([&] {
        RawClient c;
        if (c.open(port))
            writerSaw = c.xecute(u"S ^T=$G(^T)+1 W ^T"_s, &writerError);
    });
    QThread::msleep(500);
    x(m_a, u"TCOMMIT"_s);
    writer.join();
    QCOMPARE(writerError, 0);
    QCOMPARE(writerSaw, u"2"_s);
}

void tst_servertx::concurrentReadModifyWriteLosesNothing()
{
    constexpr int Jobs = 6;
    constexpr int Rounds = 60;
    std::atomic<int> failures{0};
    QString firstFailure;
    std::mutex mutex;
    std::vector<std::thread> threads;
    const quint16 port = m_server->port();
    for (int j = 0; j < Jobs; ++j) {
        threads.emplace_back([&, j] {
            RawClient c;
            if (!c.open(port)) {
                ++failures;
                return;
            }
            for (int i = 0; i < Rounds; ++i) {
                int error = -1;
                // Read, then write: the write finds a snapshot other jobs have moved past.
                c.xecute(u"S ^T=$G(^T)+1,^T("_s + QString::number(j) + u")=$G(^T("_s + QString::number(j)
                             + u"))+1"_s,
                         &error);
                if (error) {
                    std::lock_guard lock(mutex);
                    if (firstFailure.isEmpty())
                        firstFailure = QString::number(error);
                    ++failures;
                }
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QVERIFY2(failures == 0, qPrintable(firstFailure));
    QCOMPARE(x(m_a, u"W ^T"_s), QString::number(Jobs * Rounds));
    QCOMPARE(x(m_a, u"W ^T(0)+^T(5)"_s), QString::number(2 * Rounds));
}

void tst_servertx::globalsSurviveReconnectAndRestart()
{
    x(m_a, u"S ^V(\"Anmeldung\",$J)=\"Müller `2026\""_s);
    // Values on either side of each size the server's store keeps blocks of, each written
    // over with another size.
    const QList<int> sizes = {1, 15, 16, 17, 255, 256, 257, 4000, 300000};
    auto value = [&](int i) { return QString(sizes[i], QChar(u'a' + i)); };
    for (int i = 0; i < sizes.size(); ++i) {
        for (int v : {i, int(sizes.size()) - 1 - i})
            x(m_a, u"S ^V(\"Größe\","_s + QString::number(i) + u")=\""_s + value(v) + u'"');
    }
    const QString job = QString::number(m_a.jobNumber());
    m_a.Disconnect();
    QCOMPARE(x(m_b, u"W ^V(\"Anmeldung\","_s + job + u")"_s), u"Müller `2026"_s);
    m_b.Disconnect();
    QVERIFY(m_server->restart());
    QVERIFY(connected(m_a).IsConnected());
    QCOMPARE(x(m_a, u"W ^V(\"Anmeldung\","_s + job + u")"_s), u"Müller `2026"_s);
    for (int i = 0; i < sizes.size(); ++i) {
        const QString line = u"W ^V(\"Größe\","_s + QString::number(i) + u')';
        QCOMPARE(x(m_a, line), value(int(sizes.size()) - 1 - i));
    }
    // The demo data are not seeded twice.
    QCOMPARE(x(m_a, u"W $P(^FA(0),\"`\",2)"_s), u"2026"_s);
}

void tst_servertx::exclusiveDataKeepsOtherProgramsOut()
{
    if (!TestServer::exclusiveData())
        QSKIP("the data folder is shared (VARELO_TEST_EXCLUSIVE_DATA not set)");
    x(m_a, u"S ^V(\"Exklusiv\")=1"_s);
    const QString file = m_server->dataDir() + u"/VARELO.db"_s;
    auto readable = [&] {
        const Outsider outsider(file, u"QSQLITE_BUSY_TIMEOUT=0;QSQLITE_OPEN_READONLY"_s);
        return outsider.isOpen() && outsider.query().exec(u"SELECT count(*) FROM sqlite_master"_s);
    };
    QVERIFY(!readable());
    m_server->stop();
    QVERIFY(readable());
    QVERIFY(m_server->start());
    QCOMPARE(x(connected(m_a), u"W ^V(\"Exklusiv\")"_s), u"1"_s);
}

void tst_servertx::readersLeaveTheWalToCheckpointsAndOtherPrograms()
{
    if (TestServer::postgres() || TestServer::exclusiveData())
        QSKIP("only a shared SQLite data folder has other programs beside the server");
    // One job commits while another reads between its commits: the server's checkpoints start
    // the WAL anew at about 1000 pages of 4 KiB, instead of letting it grow by every commit
    // (a page each here).
    const QString wal = m_server->dataDir() + u"/VARELO.db-wal"_s;
    for (int i = 0; i < 2000; ++i) {
        x(m_a, u"S ^V(1)="_s + QString::number(i));
        x(m_b, u"W ^V(1)"_s);
    }
    QVERIFY2(QFileInfo(wal).size() < 4'500'000, qPrintable(QString::number(QFileInfo(wal).size())));

    // Another program writes beside the server that has just read, and its checkpoint
    // empties the WAL once the server's readers rest.
    x(m_a, u"S ^V=\"drinnen\""_s);
    QCOMPARE(x(m_b, u"W ^V"_s), u"drinnen"_s);
    {
        const Outsider outsider(m_server->dataDir() + u"/VARELO.db"_s, u"QSQLITE_BUSY_TIMEOUT=5000"_s);
        QVERIFY(outsider.isOpen());
        QSqlQuery q = outsider.query();
        QVERIFY(q.exec(u"UPDATE globals SET value='draußen' WHERE key='' AND value='drinnen'"_s));
        QCOMPARE(q.numRowsAffected(), 1);
        QVERIFY(q.exec(u"PRAGMA wal_checkpoint(TRUNCATE)"_s) && q.next());
        QCOMPARE(q.value(0).toInt(), 0); // not busy
    }
    QCOMPARE(QFileInfo(wal).size(), 0);
    QCOMPARE(x(m_b, u"W ^V"_s), u"draußen"_s);
}

void tst_servertx::stoppedServerKeepsNothingUncommitted()
{
    x(m_a, u"S ^T=\"fest\""_s);
    x(m_a, u"TSTART  S ^U=\"offen\""_s);
    const qsizetype stopped = m_server->log().count(u"varelo-server: stopped"_s);
    m_server->stop();
    // On its own, not killed: m_b's job waits in a blocking receive, which the shutdown ends.
    QCOMPARE(m_server->log().count(u"varelo-server: stopped"_s), stopped + 1);
    QVERIFY(m_server->start());
    factory::Factory f;
    QVERIFY(m_server->connect(f));
    QCOMPARE(x(f, u"W $G(^T),\"/\",$D(^U)"_s), u"fest/0"_s);
}

// One line that never ends and one job transaction left idle: neither keeps the other jobs
// from writing for longer than the server's limits, and the job that caused it is told why.
void tst_servertx::runawayLinesAndIdleTransactionsFreeTheLock()
{
    TestServer::Options options;
    options.extraArgs = {u"--line-time"_s, u"0.5"_s, u"--transaction-idle"_s, u"1"_s};
    TestServer server(options);
    QVERIFY(server.start());
    factory::Factory a, b;
    QVERIFY(server.connect(a));
    QVERIFY(server.connect(b));

    QElapsedTimer clock;
    clock.start();
    QString why;
    // No loops in M lines here: many passes over one long string make the long line.
    QString line = u"TSTART  S ^T=1,X=$J(\"\",3000000)"_s;
    for (int i = 0; i < 400; ++i)
        line += u" S Y=$TR(X,\"a\",\"b\")"_s;
    const int runaway = xError(a, line, &why);
    QVERIFY2(runaway == 3013, qPrintable(QString::number(runaway) + u' ' + why));
    QVERIFY2(why.contains(u"die Zeile"_s), qPrintable(why));
    QVERIFY(clock.elapsed() < 4000);
    QCOMPARE(x(b, u"S ^U=1 W $D(^T)"_s), u"0"_s); // the line's own transaction went with it

    // The log names what the client sent on a line of its own, control characters escaped.
    try {
        a.Static(u"VR.\x1b[2J\a"_s)->call(u"Xecute"_s, {u"W 1"_s});
        QFAIL("a class of that name");
    } catch (const factory::Error &e) {
        QCOMPARE(e.number(), 2001);
    }

    x(a, u"TSTART  S ^T=2"_s);
    clock.restart();
    QCOMPARE(x(b, u"S ^T=3 W ^T"_s), u"3"_s); // waited for the idle transaction's end
    QVERIFY(clock.elapsed() < 4500);
    QCOMPARE(xError(a, u"W $TLEVEL"_s, &why), 4001);
    QVERIFY2(why.contains(u"zurückgerollt"_s), qPrintable(why));
    QCOMPARE(x(a, u"W $TLEVEL_^T"_s), u"03"_s); // told once, then the job goes on

    const QString log = server.log();
    QVERIFY(!log.contains(QChar(0x1b)) && !log.contains(QChar(0x07)));
    QVERIFY(log.contains(u"\\x1b[2J\\x07"_s));
}

QTEST_GUILESS_MAIN(tst_servertx)
#include "tst_servertx.moc"
