#include "server/runlog.h"

#include "server/log.h"
#include "server/sqlutil.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSqlQuery>

#include <atomic>

using namespace Qt::StringLiterals;

namespace server::runlog {

namespace presence {
namespace {
// A server on a PostgreSQL store holds a session lock (PresenceClass, its number) for as long
// as it lives, on a connection of the main thread; a lock free to take is a server gone.
constexpr int PresenceClass = 0x5652;
const QString Connection = u"presence"_s;
qint64 g_self = 0;
} // namespace

// "pg_try_advisory_lock" or "pg_advisory_unlock" of a server's presence lock.
bool presenceLock(QSqlDatabase db, const char *function, qint64 server)
{
    QSqlQuery q(db);
    q.prepare(u"SELECT "_s + QLatin1StringView(function) + u"(?, ?)"_s);
    q.addBindValue(PresenceClass);
    q.addBindValue(int(server));
    if (!q.exec())
        sql::fail(q);
    return q.next() && q.value(0).toBool();
}

qint64 self() { return g_self; }

void announce(const store::Store &store)
{
    if (!store.postgres())
        return;
    QSqlDatabase db = store::openRecords(store, Connection);
    qint64 candidate = 0;
    do
        candidate = QRandomGenerator::system()->bounded(1, 0x7fffffff);
    while (!presenceLock(db, "pg_try_advisory_lock", candidate));
    g_self = candidate;
}

bool alive(qint64 server)
{
    if (server <= 0 || server > 0x7fffffff)
        return false;
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    if (!presenceLock(db, "pg_try_advisory_lock", server))
        return true;
    presenceLock(db, "pg_advisory_unlock", server);
    return false;
}
} // namespace presence

namespace {

// Other writers of the records hold them for one short statement each; a server that
// shares the folder may be busy a little longer.
constexpr int RecordWaitMsec = 60 * 1000;

const QString CutOff = u"Fehler: abgebrochen (Server beendet)"_s;

QString now() { return QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_s); }

// A connection for one use on the calling thread: records are written from connection
// threads and batch workers alike, each seldom.
class Connection
{
public:
    explicit Connection(const store::Store &store)
        : m_name(u"runlog-"_s + QString::number(s_serial.fetch_add(1))), m_db(store::openRecords(store, m_name))
    {
    }
    ~Connection()
    {
        m_db = QSqlDatabase();
        store::close(m_name);
    }
    Q_DISABLE_COPY_MOVE(Connection)

    QSqlQuery query(const QString &text)
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.prepare(text))
            sql::fail(q);
        return q;
    }
    QSqlDatabase &db() { return m_db; }

private:
    static inline std::atomic<int> s_serial{0};
    QString m_name;
    QSqlDatabase m_db;
};

void createRecords(Connection &c)
{
    const bool pg = sql::postgres(c.db());
    if (pg) // shared by every server on the database; each run names the server that runs it
        sql::exec(c.db(), u"CREATE SCHEMA IF NOT EXISTS "_s + sql::quoted(store::RecordsSchema));
    sql::exec(c.db(), u"CREATE TABLE IF NOT EXISTS runs (id "_s + (pg ? u"BIGSERIAL"_s : u"INTEGER"_s)
                          + u" PRIMARY KEY, ns TEXT NOT NULL, job TEXT, tenant TEXT, args TEXT, startedby TEXT,"
                            " started TEXT, ended TEXT, state TEXT, outcome TEXT, output TEXT"_s
                          + (pg ? u", server BIGINT)"_s : u")"_s));
    sql::exec(c.db(), u"CREATE INDEX IF NOT EXISTS runs_ns ON runs (ns, id)"_s);
    sql::exec(c.db(), u"CREATE INDEX IF NOT EXISTS runs_tenant ON runs (tenant, id)"_s);
}

// Older servers kept the records in the namespace itself (table batch_runs).
void takeOverOldRecords(Connection &c, QSqlDatabase mainDb, const QString &ns)
{
    if (sql::postgres(mainDb))
        return; // no older server kept them in PostgreSQL
    QSqlQuery exists(mainDb);
    if (!exists.exec(u"SELECT 1 FROM sqlite_master WHERE type='table' AND name='batch_runs'"_s))
        sql::fail(exists);
    if (!exists.next())
        return;
    exists.finish();
    QSqlQuery old(mainDb);
    old.setForwardOnly(true);
    if (!old.exec(u"SELECT job, IFNULL(tenant, ''), args, started, ended, outcome FROM batch_runs ORDER BY id"_s))
        sql::fail(old);
    sql::exec(c.db(), u"BEGIN IMMEDIATE"_s);
    QSqlQuery insert = c.query(u"INSERT INTO runs (ns, job, tenant, args, startedby, started, ended, state, outcome)"
                               " VALUES (?, ?, ?, ?, '', ?, ?, ?, ?)"_s);
    while (old.next()) {
        const QString outcome = old.value(5).toString();
        const QString state = outcome.startsWith(u"ok"_s) ? Done : old.value(4).isNull() ? Running : Failed;
        insert.bindValue(0, ns);
        for (int i = 0; i < 5; ++i)
            insert.bindValue(i + 1, old.value(i));
        insert.bindValue(6, state);
        insert.bindValue(7, outcome);
        sql::exec(insert);
    }
    sql::exec(c.db(), u"COMMIT"_s);
    old.finish();
    sql::exec(mainDb, u"DROP TABLE batch_runs"_s);
}

void updatePatiently(const store::Store &store, qint64 id, const QString &what, const QString &sql,
                     const QVariantList &binds)
{
    if (!id)
        return;
    try {
        Connection c(store);
        QSqlQuery q = c.query(sql);
        for (qsizetype i = 0; i < binds.size(); ++i)
            q.bindValue(int(i), binds[i]);
        q.bindValue(int(binds.size()), id);
        sql::execPatiently(q, RecordWaitMsec);
    } catch (const factory::Error &e) {
        log::line(u"batch %1: %2 not recorded: %3"_s.arg(id).arg(what, e.description()));
    }
}

} // namespace

void prepare(const store::Store &store, QSqlDatabase mainDb, const store::Namespace &ns)
{
    Connection c(store);
    if (sql::postgres(c.db()))
        sql::exec(c.db(), u"SELECT pg_advisory_lock(hashtext('varelo runs'))"_s);
    const auto unlock = qScopeGuard([&] {
        if (sql::postgres(c.db()))
            QSqlQuery(c.db()).exec(u"SELECT pg_advisory_unlock(hashtext('varelo runs'))"_s);
    });
    createRecords(c);
    takeOverOldRecords(c, mainDb, ns.name);
    QString cutOff = u"UPDATE runs SET state=?, outcome=? WHERE ns=? AND state IN (?, ?)"_s;
    QList<qint64> gone;
    if (sql::postgres(c.db())) {
        // Only the runs of servers that are gone: the others still work on theirs.
        QSqlQuery servers = c.query(u"SELECT DISTINCT server FROM runs WHERE ns=? AND state IN (?, ?)"_s);
        servers.addBindValue(ns.name);
        servers.addBindValue(Waiting);
        servers.addBindValue(Running);
        sql::exec(servers);
        while (servers.next())
            if (servers.value(0).toLongLong() != presence::self() && !presence::alive(servers.value(0).toLongLong()))
                gone.append(servers.value(0).toLongLong());
        if (gone.isEmpty())
            return;
        QStringList ids;
        for (qint64 id : std::as_const(gone))
            ids.append(QString::number(id));
        cutOff += u" AND server IN ("_s + ids.join(u',') + u')';
    }
    QSqlQuery cut = c.query(cutOff);
    cut.bindValue(0, Failed);
    cut.bindValue(1, CutOff);
    cut.bindValue(2, ns.name);
    cut.bindValue(3, Waiting);
    cut.bindValue(4, Running);
    sql::execPatiently(cut, RecordWaitMsec);
}

qint64 add(const store::Store &store, const NewRun &run)
{
    Connection c(store);
    const bool pg = sql::postgres(c.db());
    QSqlQuery q = c.query(pg ? u"INSERT INTO runs (ns, job, tenant, args, startedby, started, state, outcome, server)"
                               " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"_s
                             : u"INSERT INTO runs (ns, job, tenant, args, startedby, started, state, outcome)"
                               " VALUES (?, ?, ?, ?, ?, ?, ?, ?)"_s);
    // A null text would be stored as NULL, which no tenant comparison matches.
    const auto text = [](const QString &t) { return t.isNull() ? u""_s : t; };
    QVariantList binds{run.ns, text(run.job), text(run.tenant), text(run.args), text(run.startedBy), now(),
                       Waiting, Waiting};
    if (pg)
        binds.append(presence::self());
    for (qsizetype i = 0; i < binds.size(); ++i)
        q.bindValue(int(i), binds[i]);
    sql::execPatiently(q, RecordWaitMsec);
    if (pg)
        return q.next() ? q.value(0).toLongLong() : 0;
    return q.lastInsertId().toLongLong();
}

void setRunning(const store::Store &store, qint64 id)
{
    updatePatiently(store, id, u"start"_s, u"UPDATE runs SET state=?, outcome=? WHERE id=?"_s, {Running, Running});
}

void setProgress(const store::Store &store, qint64 id, const QString &text)
{
    updatePatiently(store, id, u"progress"_s, u"UPDATE runs SET outcome=? WHERE id=?"_s,
                    {QString(Running + u": "_s + text)});
}

void finish(const store::Store &store, qint64 id, bool ok, const QString &outcome, const QString &outputFile)
{
    updatePatiently(store, id, u"end"_s, u"UPDATE runs SET ended=?, state=?, outcome=?, output=? WHERE id=?"_s,
                    {now(), ok ? Done : Failed, outcome, ok ? outputFile : QString()});
}

void copy(const store::Store &store, const QString &ns, const QVariantList &run)
{
    Connection c(store);
    QSqlQuery q = c.query(u"INSERT INTO runs (job, tenant, args, started, ended, outcome, state, startedby, output, ns)"
                          " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s);
    for (int i = 1; i < 10; ++i)
        q.bindValue(i - 1, run.value(i));
    q.bindValue(9, ns);
    sql::execPatiently(q, RecordWaitMsec);
}

QList<QVariantList> list(const store::Store &store, const QString &ns, const QString &tenant, int limit)
{
    Connection c(store);
    const QString columns = u"SELECT id, job, tenant, args, started, ended, outcome, state, startedby, output, ns"
                            " FROM runs"_s;
    // Both stores read a NULL limit as none.
    QSqlQuery q = tenant.isEmpty()
                      ? c.query(columns + u" WHERE ns=? ORDER BY id DESC LIMIT ?"_s)
                      : c.query(columns + u" WHERE tenant IN (?, '') ORDER BY id DESC LIMIT ?"_s);
    q.bindValue(0, tenant.isEmpty() ? ns : tenant);
    q.bindValue(1, limit > 0 ? QVariant(limit) : sql::postgres(c.db()) ? QVariant() : QVariant(-1));
    sql::exec(q);
    QList<QVariantList> rows;
    while (q.next()) {
        QVariantList row;
        row.reserve(11);
        for (int i = 0; i < 11; ++i)
            row.append(q.value(i).isNull() ? QVariant(QString()) : q.value(i));
        rows.append(std::move(row));
    }
    return rows;
}

} // namespace server::runlog
