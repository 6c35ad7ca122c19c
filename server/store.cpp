#include "server/store.h"

#include "server/log.h"
#include "server/runlog.h"
#include "server/passwords.h"
#include "server/sqlutil.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace server::store {

QSqlDatabase open(const QString &path, const QString &connectionName)
{
    // Every connection belongs to one thread, so SQLite need not lock a connection's mutex
    // around every call (a row's cells are a dozen calls). Only possible before the first
    // connection; a library that started already keeps its mode, which is as safe.
    // Nor count every allocation under a global mutex for statistics nobody reads.
    [[maybe_unused]] static const bool configured = sqlite3_config(SQLITE_CONFIG_MULTITHREAD) == SQLITE_OK
                                                    && sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_s);
    if (!db.open()) {
        const QString text = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        throw factory::Error(factory::ErrorCode::Storage,
                             u"Datenbank '"_s + path + u"' nicht zu öffnen: "_s + text);
    }
    // WAL lets readers go on while one job writes; FULL makes every answered commit durable.
    sql::exec(db, u"PRAGMA journal_mode=WAL"_s);
    sql::exec(db, u"PRAGMA synchronous=FULL"_s);
    // Pages read through a mapping shared by every job's connection, not copied by a read
    // call each: lookups spread over a large table (a list joined to a million customers)
    // would otherwise cost a system call a page.
    sql::exec(db, u"PRAGMA mmap_size=1073741824"_s);
    return db;
}

void close(const QString &connectionName)
{
    sql::dropPrepared(connectionName);
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isOpen()) {
            QSqlQuery(db).exec(u"ROLLBACK"_s); // nothing uncommitted survives a closed job
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connectionName);
}

namespace {
QSet<QString> columnsOf(const QSqlDatabase &db, const QString &table)
{
    QSqlQuery q(db);
    if (!q.exec(u"PRAGMA table_info("_s + sql::quoted(table) + u")"_s))
        sql::fail(q);
    QSet<QString> columns;
    while (q.next())
        columns.insert(q.value(1).toString().toLower());
    return columns;
}
} // namespace

bool tableComplete(QSqlDatabase db, const ClassDecl &decl)
{
    if (decl.table.isEmpty())
        return true;
    const QSet<QString> columns = columnsOf(db, decl.table);
    if (columns.isEmpty())
        return false;
    for (const PropertyDecl &p : decl.properties)
        if (!columns.contains(p.name.toLower()))
            return false;
    return true;
}

void createTable(QSqlDatabase db, const ClassDecl &decl)
{
    if (decl.table.isEmpty())
        return;
    const QString table = sql::quoted(decl.table);
    // Columns carry no type: a value keeps the kind it was stored with (text or number).
    QString ddl = u"CREATE TABLE IF NOT EXISTS "_s + table + u" (id "_s
                  + (decl.idProperties.isEmpty() ? u"INTEGER PRIMARY KEY"_s : u"TEXT PRIMARY KEY"_s);
    for (const PropertyDecl &p : decl.properties)
        ddl += u", "_s + sql::quoted(p.name);
    ddl += u')';
    sql::exec(db, ddl);
    const QSet<QString> columns = columnsOf(db, decl.table);
    for (const PropertyDecl &p : decl.properties)
        if (!columns.contains(p.name.toLower()))
            sql::exec(db, u"ALTER TABLE "_s + table + u" ADD COLUMN "_s + sql::quoted(p.name));
    for (const QString &index : decl.indexes) {
        QStringList cols = index.split(u',', Qt::SkipEmptyParts);
        for (QString &c : cols)
            c = sql::quoted(c.trimmed());
        QString name = decl.table + u'_' + index;
        name.replace(u',', u'_');
        sql::exec(db, u"CREATE INDEX IF NOT EXISTS "_s + sql::quoted(name) + u" ON "_s + table + u" ("_s
                          + cols.join(u", "_s) + u')');
    }
}

void prepare(const Namespace &ns, const ClassRegistry &registry, bool seed, int scale)
{
    const bool fresh = !QFileInfo::exists(ns.path);
    const QString connection = u"prepare-"_s + ns.name;
    try {
        QSqlDatabase db = open(ns.path, connection);
        sql::exec(db, u"BEGIN IMMEDIATE"_s);
        sql::exec(db, u"CREATE TABLE IF NOT EXISTS globals (name TEXT NOT NULL, key TEXT NOT NULL, value,"
                      " PRIMARY KEY(name, key)) WITHOUT ROWID"_s);
        for (const ClassDecl *decl : registry.all())
            createTable(db, *decl);
        sql::exec(db, u"COMMIT"_s);
        if (fresh && seed) {
            sql::exec(db, u"BEGIN IMMEDIATE"_s);
            try {
                seedDemo(db, ns.name, scale);
            } catch (...) {
                QSqlQuery(db).exec(u"ROLLBACK"_s);
                throw;
            }
            sql::exec(db, u"COMMIT"_s);
        }
        sql::exec(db, u"BEGIN IMMEDIATE"_s);
        passwords::checkNamespace(db);
        for (const ClassDecl *decl : registry.all())
            if (decl->upgrade)
                decl->upgrade(db);
        sql::exec(db, u"COMMIT"_s);
        runlog::prepare(QFileInfo(ns.path).absolutePath(), db, ns);
        sql::exec(db, u"PRAGMA optimize"_s);
    } catch (...) {
        close(connection);
        if (fresh) {
            // A half-made fresh database would never be seeded again: start over next time.
            for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s})
                QFile::remove(ns.path + suffix);
        }
        throw;
    }
    close(connection);
}

} // namespace server::store
