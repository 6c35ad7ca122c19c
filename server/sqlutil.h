#pragma once
// Small helpers over Qt SQL that turn failures into factory::Error and keep prepared
// statements per connection, so a hot call does not parse its SQL again.

#include "factory/error.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <memory>

struct sqlite3_stmt;

namespace wire {
class CborWriter;
}

namespace server::sql {

// An identifier for SQL text: always quoted, quotes doubled. Only names from the
// server's own declarations come here, never client text.
QString quoted(const QString &identifier);

// A statement prepared once per connection and kept; the caller binds, executes and
// finishes it (Finish below) so no read snapshot stays open.
QSqlQuery &prepared(const QSqlDatabase &db, const QString &text);
// The same, remembered by the caller for its next call on the same connection, which then
// needs no lookup by the statement's text (a hash of a hundred characters and more).
QSqlQuery &prepared(const QSqlDatabase &db, const QString &text, std::weak_ptr<QSqlQuery> &remembered);
// Forgets the statements of a connection; call before the connection is removed.
void dropPrepared(const QString &connectionName);

void exec(QSqlQuery &query);                       // prepared: throws factory::Error 4000
// Binds, runs and reads the first row of a prepared statement (false: no row), and leaves it
// finished. On SQLite straight through its C interface: Qt's driver builds a record of the
// column names and types anew on every run, which costs a one-row read more than the read.
// The values are those QSqlQuery::value() gives.
bool firstRow(QSqlQuery &query, const QVariantList &binds, QVariantList &row);
// Binds and runs a prepared statement that answers no rows (BEGIN, COMMIT, an INSERT) and
// leaves it finished; on SQLite through its C interface.
void run(QSqlQuery &query, const QVariantList &binds = {});
// The SQLite statement under a query; null on another driver.
sqlite3_stmt *sqliteStatement(const QSqlQuery &query);
// Column i of the row the statement stands on, as QSqlQuery::value(i) gives it.
QVariant sqliteCell(sqlite3_stmt *stmt, int i);
// The same cell onto the wire as values::writeCbor(sqliteCell(...)) writes it; text goes as
// the UTF-8 it is stored in.
void writeSqliteCell(wire::CborWriter &w, sqlite3_stmt *stmt, int i);
// A text cell's UTF-8 bytes, valid until the statement moves on; null unless the cell is text.
QByteArrayView sqliteText(sqlite3_stmt *stmt, int i);
// firstRow() for a reader of the cells in place (stmt: sqliteStatement(query)): binds and
// steps to the first row, false without one. The row stands until endRow(stmt).
bool stepToFirstRow(QSqlQuery &query, sqlite3_stmt *stmt, const QVariantList &binds);
void endRow(sqlite3_stmt *stmt);
void exec(const QSqlDatabase &db, const QString &text); // one-off statement
[[noreturn]] void fail(const QSqlQuery &query);

// A storage failure that goes away when the call runs again (4000): another connection held
// the write lock or the row, or changed it since the call's snapshot.
class Conflict : public factory::Error
{
public:
    explicit Conflict(QString description) : Error(factory::ErrorCode::Storage, std::move(description)) {}
};

// Another connection holds the write lock or the row (SQLITE_BUSY, a PostgreSQL conflict).
bool isBusy(const QSqlError &error);
// Orders a column of whole numbers by number. SQLite keeps them as numbers; PostgreSQL keeps
// them as text, where the shorter number is the smaller one.
QString numberOrder(const QSqlDatabase &db, const QString &quotedColumn);
// The same for whole numbers that SQLite keeps as text (tenant numbers).
QString textNumberOrder(const QSqlDatabase &db, const QString &quotedColumn);
// The connection is to PostgreSQL (server/store.h), else to SQLite.
bool postgres(const QSqlDatabase &db);
// Like exec, for background work nobody waits on: a busy database is tried again (each try
// waits out the connection's busy timeout) until msec have passed.
void execPatiently(QSqlQuery &query, int msec);

// Finishes a query when leaving the scope.
class Finish
{
public:
    explicit Finish(QSqlQuery &query) : m_query(query) {}
    ~Finish() { m_query.finish(); }
    Q_DISABLE_COPY_MOVE(Finish)

private:
    QSqlQuery &m_query;
};

} // namespace server::sql
