#pragma once
// Where the namespaces live: one SQLite file each in the data folder (the embedded default:
// WAL, every commit synced), or one schema each in a PostgreSQL database that several
// servers may share. The same SQL serves both; where the dialects differ, this file and
// server/sqlutil.h hold the one place per difference.

#include "server/classdecl.h"

#include <QSqlDatabase>
#include <QString>

namespace server::store {

struct Store
{
    enum class Kind { SQLite, PostgreSQL };
    Kind kind = Kind::SQLite;
    QString folder; // SQLite: the data folder
    QString uri;    // PostgreSQL: a libpq connection URI (password from PGPASSWORD or ~/.pgpass)
    // SQLite: the namespaces' databases are this server's alone while it runs. One lock on
    // each file for the server's life replaces the lock round of every read transaction;
    // no other program can open them meanwhile.
    bool exclusive = false;

    bool postgres() const { return kind == Kind::PostgreSQL; }
    // "postgresql://…" or "postgres://…" is a database, anything else a data folder.
    static Store parse(const QString &text);
    // For messages: the folder, or the URI without a password.
    QString describe() const;
};

struct Namespace
{
    QString name; // canonical spelling
    Store store;
    QString path() const; // SQLite: <folder>/<name>.db
    QString schema() const { return name; } // PostgreSQL
};

// Opens a connection for the calling thread under a unique name; throws factory::Error 4000.
QSqlDatabase open(const Namespace &ns, const QString &connectionName);
// The batch run records of a store (server/runlog.h): <folder>/batch-runs.sqlite, or their
// own schema of the database, RecordsSchema (no namespace can be called so).
inline const QString RecordsSchema = QStringLiteral("varelo server");
QSqlDatabase openRecords(const Store &store, const QString &connectionName);
// Drops the connection's prepared statements, undoes what it left open and removes it.
void close(const QString &connectionName);

// The column types of the connection's dialect, with a leading blank (none on SQLite), and
// of an id column (numbered: server-numbered objects).
QString valueColumnType(const QSqlDatabase &db);
QString idColumnType(const QSqlDatabase &db, bool numbered);
// Creates the table, its missing columns and indexes of a stored class; idempotent.
void createTable(QSqlDatabase db, const ClassDecl &decl);
// True when the class's table has every declared column (no write needed).
bool tableComplete(QSqlDatabase db, const ClassDecl &decl);
// The M globals' table (server/classdecl.h, globals).
void createGlobals(QSqlDatabase db);
// The tables of the connection's namespace, and a table's columns in their order.
QStringList tables(QSqlDatabase db);
QStringList columns(QSqlDatabase db, const QString &table);

// Creates every declared table, "globals" and the run records (server/runlog.h); seeds the demo business
// (one transaction) when asked and the namespace is new. Throws factory::Error.
// A SQLite database stays open after it until release().
void prepare(const Namespace &ns, const ClassRegistry &registry, bool seed, int scale);
void release(const Namespace &ns);
// True when the namespace has been made in its store.
bool exists(const Namespace &ns);

} // namespace server::store
