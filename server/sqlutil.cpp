#include "server/sqlutil.h"

#include "factory/error.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QSqlError>

using namespace Qt::StringLiterals;

namespace server::sql {

namespace {
// Connections belong to one thread, so a per-thread cache needs no lock.
// Held by pointer: a reference handed out must survive the hash growing.
thread_local QHash<QString, QHash<QString, std::shared_ptr<QSqlQuery>>> t_prepared;

[[noreturn]] void throwError(const QSqlError &error, const QString &text)
{
    if (isBusy(error))
        throw Conflict(u"Datenbank belegt (ein anderer Job schreibt gerade), bitte wiederholen"_s);
    throw factory::Error(factory::ErrorCode::Storage,
                         u"Speicherfehler: "_s + error.text() + u" ("_s + text.left(120) + u")"_s);
}
} // namespace

bool isBusy(const QSqlError &error)
{
    const QString native = error.nativeErrorCode();
    // SQLite: SQLITE_BUSY, SQLITE_LOCKED. PostgreSQL (SQLSTATE): a serialization failure or
    // deadlock, a lock not had in time, and a key another transaction took meanwhile (the
    // numbering of a new object); each goes away when the call runs again.
    return native == u"5"_s || native == u"6"_s || native == u"40001"_s || native == u"40P01"_s
           || native == u"55P03"_s || native == u"23505"_s;
}

bool postgres(const QSqlDatabase &db) { return db.driverName() == u"QPSQL"_s; }

QString numberOrder(const QSqlDatabase &db, const QString &quotedColumn)
{
    return postgres(db) ? u"length("_s + quotedColumn + u"), "_s + quotedColumn : quotedColumn;
}

QString asInteger(const QSqlDatabase &db, const QString &quotedColumn)
{
    if (!postgres(db))
        return u"CAST("_s + quotedColumn + u" AS INTEGER)"_s;
    return u"COALESCE(CAST(substring("_s + quotedColumn + u" from '^ *([0-9]{1,18})') AS BIGINT), 0)"_s;
}

QString quoted(const QString &identifier)
{
    QString text = identifier;
    text.replace(u'"', u"\"\""_s);
    return u'"' + text + u'"';
}

QSqlQuery &prepared(const QSqlDatabase &db, const QString &text)
{
    auto &statements = t_prepared[db.connectionName()];
    auto it = statements.find(text);
    if (it != statements.end())
        return *it.value();
    auto query = std::make_shared<QSqlQuery>(db);
    query->setForwardOnly(true);
    if (!query->prepare(text))
        throwError(query->lastError(), text);
    statements.insert(text, query);
    return *query;
}

void dropPrepared(const QString &connectionName) { t_prepared.remove(connectionName); }

void exec(QSqlQuery &query)
{
    if (!query.exec())
        fail(query);
}

void exec(const QSqlDatabase &db, const QString &text)
{
    QSqlQuery query(db);
    if (!query.exec(text))
        fail(query);
}

void execPatiently(QSqlQuery &query, int msec)
{
    QDeadlineTimer deadline(msec);
    while (!query.exec()) {
        if (!isBusy(query.lastError()) || deadline.hasExpired())
            fail(query);
    }
}

void fail(const QSqlQuery &query) { throwError(query.lastError(), query.lastQuery()); }

} // namespace server::sql
