#include "server/sqlutil.h"

#include "factory/cbor.h"
#include "factory/error.h"
#include "server/values.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlResult>

#include <sqlite3.h>

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

QString textNumberOrder(const QSqlDatabase &db, const QString &quotedColumn)
{
    return postgres(db) ? numberOrder(db, quotedColumn) : u"CAST("_s + quotedColumn + u" AS INTEGER)"_s;
}

QString quoted(const QString &identifier)
{
    QString text = identifier;
    text.replace(u'"', u"\"\""_s);
    return u'"' + text + u'"';
}

namespace {
const std::shared_ptr<QSqlQuery> &preparedQuery(const QSqlDatabase &db, const QString &text)
{
    auto &statements = t_prepared[db.connectionName()];
    auto it = statements.find(text);
    if (it != statements.end())
        return it.value();
    auto query = std::make_shared<QSqlQuery>(db);
    query->setForwardOnly(true);
    if (!query->prepare(text))
        throwError(query->lastError(), text);
    return statements.insert(text, query).value();
}
} // namespace

QSqlQuery &prepared(const QSqlDatabase &db, const QString &text) { return *preparedQuery(db, text); }

QSqlQuery &prepared(const QSqlDatabase &db, const QString &text, std::weak_ptr<QSqlQuery> &remembered)
{
    // Kept alive by the connection's statements until dropPrepared().
    if (const std::shared_ptr<QSqlQuery> query = remembered.lock(); query && query->driver() == db.driver())
        return *query;
    const std::shared_ptr<QSqlQuery> &query = preparedQuery(db, text);
    remembered = query;
    return *query;
}

void dropPrepared(const QString &connectionName) { t_prepared.remove(connectionName); }

sqlite3_stmt *sqliteStatement(const QSqlQuery &query)
{
    const QSqlResult *result = query.result();
    const QVariant handle = result ? result->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3_stmt*") != 0)
        return nullptr;
    return *static_cast<sqlite3_stmt *const *>(handle.constData());
}

namespace {
// The file holds UTF-8: asking for UTF-16 would make SQLite convert into a buffer of its own.
QByteArrayView textOf(sqlite3_value *v)
{
    return QByteArrayView(reinterpret_cast<const char *>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}
} // namespace

// As Qt's driver reads a cell (its default precision: a real as a double).
QVariant sqliteCell(sqlite3_stmt *stmt, int i)
{
    // The cell's value once, then its parts: each sqlite3_column_* call finds the cell anew.
    // An unprotected value, safe here as everywhere in the server: a connection and its
    // statements belong to one thread.
    sqlite3_value *v = sqlite3_column_value(stmt, i);
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return sqlite3_value_double(v);
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_value_blob(v)), sqlite3_value_bytes(v));
    default:
        return QString::fromUtf8(textOf(v));
    }
}

namespace {

int bind(sqlite3_stmt *stmt, int at, const QVariant &v)
{
    if (v.isNull())
        return sqlite3_bind_null(stmt, at);
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return sqlite3_bind_int64(stmt, at, v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(stmt, at, v.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return sqlite3_bind_blob(stmt, at, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::QString: {
        const QString &t = *static_cast<const QString *>(v.constData());
        return sqlite3_bind_text16(stmt, at, t.utf16(), int(t.size() * sizeof(QChar)), SQLITE_TRANSIENT);
    }
    default: {
        const QString t = v.toString();
        return sqlite3_bind_text16(stmt, at, t.utf16(), int(t.size() * sizeof(QChar)), SQLITE_TRANSIENT);
    }
    }
}

[[noreturn]] void sqliteFailure(sqlite3_stmt *stmt, int rc, const QString &text)
{
    const QString message = QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt)));
    sqlite3_reset(stmt);
    throwError(QSqlError(u"Unable to fetch row"_s, message, QSqlError::StatementError, QString::number(rc & 0xff)),
               text);
}

void bindAll(const QSqlQuery &query, sqlite3_stmt *stmt, const QVariantList &binds)
{
    for (int i = 0; i < binds.size(); ++i)
        if (const int rc = bind(stmt, i + 1, binds[i]); rc != SQLITE_OK)
            sqliteFailure(stmt, rc, query.lastQuery());
}

// Other drivers: Qt's binding and execution.
void execBound(QSqlQuery &query, const QVariantList &binds)
{
    for (int i = 0; i < binds.size(); ++i)
        query.bindValue(i, binds[i]);
    exec(query);
}
} // namespace

void run(QSqlQuery &query, const QVariantList &binds)
{
    sqlite3_stmt *stmt = sqliteStatement(query);
    if (!stmt) {
        execBound(query, binds);
        query.finish();
        return;
    }
    stepToFirstRow(query, stmt, binds); // a row it answers after all is not read
    endRow(stmt);
}

bool stepToFirstRow(QSqlQuery &query, sqlite3_stmt *stmt, const QVariantList &binds)
{
    query.finish(); // whatever Qt ran on it last is over
    sqlite3_reset(stmt);
    bindAll(query, stmt, binds);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) {
        sqlite3_reset(stmt);
        return false;
    }
    if (rc != SQLITE_ROW)
        sqliteFailure(stmt, rc, query.lastQuery());
    return true;
}

void endRow(sqlite3_stmt *stmt)
{
    sqlite3_reset(stmt); // ends the read: no snapshot stays open
    sqlite3_clear_bindings(stmt);
}

bool firstRow(QSqlQuery &query, const QVariantList &binds, QVariantList &row)
{
    sqlite3_stmt *stmt = sqliteStatement(query);
    if (!stmt) {
        execBound(query, binds);
        Finish finish(query);
        if (!query.next())
            return false;
        const int n = query.record().count();
        row.clear();
        for (int i = 0; i < n; ++i)
            row.append(query.value(i));
        return true;
    }
    if (!stepToFirstRow(query, stmt, binds))
        return false;
    const int n = sqlite3_column_count(stmt);
    row.clear();
    row.reserve(n);
    for (int i = 0; i < n; ++i)
        row.append(sqliteCell(stmt, i));
    endRow(stmt);
    return true;
}

QByteArrayView sqliteText(sqlite3_stmt *stmt, int i)
{
    sqlite3_value *v = sqlite3_column_value(stmt, i);
    return sqlite3_value_type(v) == SQLITE_TEXT ? textOf(v) : QByteArrayView();
}

void writeSqliteCell(wire::CborWriter &w, sqlite3_stmt *stmt, int i)
{
    sqlite3_value *v = sqlite3_column_value(stmt, i);
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        w.integer(sqlite3_value_int64(v));
        break;
    case SQLITE_FLOAT:
        w.real(sqlite3_value_double(v));
        break;
    case SQLITE_TEXT:
        w.utf8(textOf(v));
        break;
    default: // NULL or a blob: as their QVariant goes
        values::writeCbor(w, sqliteCell(stmt, i));
        break;
    }
}

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
