#pragma once
// The store of a namespace: one SQLite file, WAL, every commit synced.

#include "server/classdecl.h"

#include <QSqlDatabase>
#include <QString>

namespace server::store {

struct Namespace
{
    QString name; // canonical spelling
    QString path; // <data>/<name>.db
};

// Opens a connection for the calling thread under a unique name; throws factory::Error 4000.
QSqlDatabase open(const QString &path, const QString &connectionName);
// Drops the connection's prepared statements and removes it.
void close(const QString &connectionName);

// Creates the table, its missing columns and indexes of a stored class; idempotent.
void createTable(QSqlDatabase db, const ClassDecl &decl);
// True when the class's table has every declared column (no write needed).
bool tableComplete(QSqlDatabase db, const ClassDecl &decl);

// Creates every declared table, "globals" and the run records (server/runlog.h); seeds the demo business
// (one transaction) when asked and the database is new. Throws factory::Error.
void prepare(const Namespace &ns, const ClassRegistry &registry, bool seed, int scale);

} // namespace server::store
