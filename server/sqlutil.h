#pragma once
// Small helpers over Qt SQL that turn failures into factory::Error and keep prepared
// statements per connection, so a hot call does not parse its SQL again.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

struct sqlite3_stmt;

namespace server::sql {

// An identifier for SQL text: always quoted, quotes doubled. Only names from the
// server's own declarations come here, never client text.
QString quoted(const QString &identifier);

// A statement prepared once per connection and kept; the caller binds, executes and
// finishes it (Finish below) so no read snapshot stays open.
QSqlQuery &prepared(const QSqlDatabase &db, const QString &text);
// Forgets the statements of a connection; call before the connection is removed.
void dropPrepared(const QString &connectionName);

void exec(QSqlQuery &query);                       // prepared: throws factory::Error 4000
// Binds, runs and reads the first row of a prepared statement (false: no row), and leaves it
// finished. On SQLite straight through its C interface: Qt's driver builds a record of the
// column names and types anew on every run, which costs a one-row read more than the read.
// The values are those QSqlQuery::value() gives.
bool firstRow(QSqlQuery &query, const QVariantList &binds, QVariantList &row);
// Runs a prepared statement that answers no rows (BEGIN, COMMIT) and leaves it finished;
// on SQLite through its C interface.
void run(QSqlQuery &query);
// The SQLite statement under a query; null on another driver.
sqlite3_stmt *sqliteStatement(const QSqlQuery &query);
// Column i of the row the statement stands on, as QSqlQuery::value(i) gives it.
QVariant sqliteCell(sqlite3_stmt *stmt, int i);
void exec(const QSqlDatabase &db, const QString &text); // one-off statement
[[noreturn]] void fail(const QSqlQuery &query);

// SQLITE_BUSY or SQLITE_LOCKED: another connection holds the write lock.
bool isBusy(const QSqlError &error);
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
