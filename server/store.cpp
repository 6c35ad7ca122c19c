#include "server/store.h"

#include "server/log.h"
#include "server/runlog.h"
#include "server/passwords.h"
#include "server/readlocks.h"
#include "server/sqlitememory.h"
#include "server/sqlutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QSqlError>
#include <QUrl>
#include <QUrlQuery>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace server::store {

namespace {

QSqlDatabase openSqlite(const QString &path, const QString &connectionName, bool exclusive = false)
{
    // Every connection belongs to one thread, so SQLite need not lock a connection's mutex
    // around every call (a row's cells are a dozen calls). Only possible before the first
    // connection; a library that started already keeps its mode, which is as safe.
    // Nor count every allocation under a global mutex for statistics nobody reads.
    [[maybe_unused]] static const bool configured = sqlite3_config(SQLITE_CONFIG_MULTITHREAD) == SQLITE_OK
                                                    && sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK
                                                    && useSqliteMemory();
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connectionName);
    // Exclusive: SQLite's own layer whose connections of this process share the lock it holds
    // on the file, with the WAL index in memory, not in a shared file. Otherwise ours, which
    // spares a read the lock round of its read slot (server/readlocks.h).
    QUrl uri = QUrl::fromLocalFile(path);
    uri.setQuery(exclusive ? u"vfs=unix-excl"_s : u"vfs="_s + QString::fromLatin1(readLocksVfs()));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_URI"_s);
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

QSqlDatabase openPostgres(const Store &store, const QString &schema, const QString &connectionName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, connectionName);
    // Without a password in the URI libpq finds one itself (PGPASSWORD, ~/.pgpass).
    const QUrl url(store.uri);
    db.setHostName(url.host());
    if (url.port() > 0)
        db.setPort(url.port());
    db.setUserName(url.userName());
    db.setPassword(url.password());
    db.setDatabaseName(url.path().mid(1));
    QStringList options;
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
        options.append(key + u'=' + value);
    db.setConnectOptions(options.join(u';'));
    if (!db.open()) {
        const QString text = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        throw factory::Error(factory::ErrorCode::Storage,
                             u"Datenbank '"_s + store.describe() + u"' nicht zu erreichen: "_s + text);
    }
    // A write waits for another transaction's row as long as one of SQLite's jobs waits for
    // the write lock, then fails the same way (4000). Commits are synchronous: a success
    // answer means on disk (or on the standbys the administrator asks for). Calls see one
    // snapshot each and a write to a row another call changed meanwhile fails (and is run
    // again), as with SQLite's single writer: no update is lost. One round trip for all.
    sql::exec(db, u"SET lock_timeout = '5s'; SET synchronous_commit = on; SET client_min_messages = error;"
                  " SET default_transaction_isolation = 'repeatable read'; SET search_path TO "_s
                      + sql::quoted(schema));
    // A server that died leaves no work behind that waits for a lock (PostgreSQL 14 on; an
    // older server refuses the setting, which changes nothing).
    QSqlQuery(db).exec(u"SET client_connection_check_interval = '2s'"_s);
    return db;
}

QSet<QString> columnSet(const QSqlDatabase &db, const QString &table)
{
    QSet<QString> set;
    for (const QString &c : columns(db, table))
        set.insert(c.toLower());
    return set;
}

bool schemaExists(QSqlDatabase db, const QString &schema)
{
    QSqlQuery q(db);
    q.prepare(u"SELECT 1 FROM information_schema.schemata WHERE schema_name=?"_s);
    q.addBindValue(schema);
    if (!q.exec())
        sql::fail(q);
    return q.next();
}

bool postgresSchemaExists(const Store &store, const QString &schema)
{
    const QString connection = u"exists-"_s + schema;
    const auto closed = qScopeGuard([&] { close(connection); }); // also when the check fails
    return schemaExists(openPostgres(store, schema, connection), schema);
}

} // namespace

Store Store::parse(const QString &text)
{
    Store store;
    if (text.startsWith(u"postgresql://"_s) || text.startsWith(u"postgres://"_s)) {
        store.kind = Kind::PostgreSQL;
        store.uri = text;
    } else {
        store.folder = QDir(text).absolutePath();
    }
    return store;
}

QString Store::describe() const
{
    if (!postgres())
        return folder;
    QUrl url(uri);
    url.setPassword({});
    return url.toString();
}

QString Namespace::path() const { return store.folder + u'/' + name + u".db"_s; }

QSqlDatabase open(const Namespace &ns, const QString &connectionName)
{
    return ns.store.postgres() ? openPostgres(ns.store, ns.schema(), connectionName)
                               : openSqlite(ns.path(), connectionName, ns.store.exclusive);
}

QSqlDatabase openRecords(const Store &store, const QString &connectionName)
{
    if (!store.postgres())
        return openSqlite(QDir(store.folder).filePath(u"batch-runs.sqlite"_s), connectionName);
    return openPostgres(store, RecordsSchema, connectionName);
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

QStringList tables(QSqlDatabase db)
{
    QSqlQuery q(db);
    const bool ok = sql::postgres(db)
                        ? q.exec(u"SELECT table_name FROM information_schema.tables WHERE table_schema=current_schema()"
                                 " AND table_type='BASE TABLE' ORDER BY table_name"_s)
                        : q.exec(u"SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'"
                                 " ORDER BY name"_s);
    if (!ok)
        sql::fail(q);
    QStringList names;
    while (q.next())
        names.append(q.value(0).toString());
    return names;
}

QStringList columns(QSqlDatabase db, const QString &table)
{
    QSqlQuery q(db);
    bool ok = false;
    int column = 0;
    if (sql::postgres(db)) {
        ok = q.prepare(u"SELECT column_name FROM information_schema.columns WHERE table_schema=current_schema()"
                       " AND table_name=? ORDER BY ordinal_position"_s);
        q.addBindValue(table);
        ok = ok && q.exec();
    } else {
        ok = q.exec(u"PRAGMA table_info("_s + sql::quoted(table) + u")"_s);
        column = 1;
    }
    if (!ok)
        sql::fail(q);
    QStringList names;
    while (q.next())
        names.append(q.value(column).toString());
    return names;
}

QString valueColumnType(const QSqlDatabase &db)
{
    // SQLite's columns carry no type: a value keeps the kind it was stored with (text or
    // number). PostgreSQL's are text, compared by code point as SQLite compares, so range
    // scans over search forms and keys find the same rows.
    return sql::postgres(db) ? u" TEXT COLLATE \"C\""_s : QString();
}

QString idColumnType(const QSqlDatabase &db, bool numbered)
{
    // Server-numbered rows: the object layer hands out one past the highest id on both stores
    // (server/objects.cpp); the identity numbers only rows inserted without one (the demo's).
    if (numbered)
        return sql::postgres(db) ? u"BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"_s : u"INTEGER PRIMARY KEY"_s;
    return (sql::postgres(db) ? u"TEXT COLLATE \"C\""_s : u"TEXT"_s) + u" PRIMARY KEY"_s;
}

bool tableComplete(QSqlDatabase db, const ClassDecl &decl)
{
    if (decl.table.isEmpty())
        return true;
    const QSet<QString> columns = columnSet(db, decl.table);
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
    const QString column = valueColumnType(db);
    QString ddl = u"CREATE TABLE IF NOT EXISTS "_s + table + u" (id "_s + idColumnType(db, decl.idProperties.isEmpty());
    for (const PropertyDecl &p : decl.properties)
        ddl += u", "_s + sql::quoted(p.name) + column;
    ddl += u')';
    sql::exec(db, ddl);
    const QSet<QString> existing = columnSet(db, decl.table);
    for (const PropertyDecl &p : decl.properties)
        if (!existing.contains(p.name.toLower()))
            sql::exec(db, u"ALTER TABLE "_s + table + u" ADD COLUMN "_s + sql::quoted(p.name) + column);
    for (const QString &index : decl.indexes) {
        QStringList cols = index.split(u',', Qt::SkipEmptyParts);
        for (QString &c : cols) {
            c = c.trimmed();
            c = c.startsWith(u'#') ? sql::numberOrder(db, sql::quoted(c.mid(1))) : sql::quoted(c);
        }
        QString name = decl.table + u'_' + index;
        name.replace(u',', u'_');
        name.remove(u'#');
        sql::exec(db, u"CREATE INDEX IF NOT EXISTS "_s + sql::quoted(name) + u" ON "_s + table + u" ("_s
                          + cols.join(u", "_s) + u')');
    }
}

void createGlobals(QSqlDatabase db)
{
    sql::exec(db, sql::postgres(db) ? u"CREATE TABLE IF NOT EXISTS globals (name TEXT COLLATE \"C\" NOT NULL,"
                                      " key TEXT COLLATE \"C\" NOT NULL, value TEXT, PRIMARY KEY(name, key))"_s
                                    : u"CREATE TABLE IF NOT EXISTS globals (name TEXT NOT NULL, key TEXT NOT NULL, value,"
                                      " PRIMARY KEY(name, key)) WITHOUT ROWID"_s);
}

bool exists(const Namespace &ns)
{
    return ns.store.postgres() ? postgresSchemaExists(ns.store, ns.schema()) : QFileInfo::exists(ns.path());
}

namespace {
QString preparingConnection(const Namespace &ns) { return u"prepare-"_s + ns.name; }
} // namespace

void prepare(const Namespace &ns, const ClassRegistry &registry, bool seed, int scale)
{
    const bool pg = ns.store.postgres();
    bool fresh = !exists(ns);
    const QString connection = preparingConnection(ns);
    const QString begin = pg ? u"BEGIN"_s : u"BEGIN IMMEDIATE"_s;
    try {
        QSqlDatabase db = open(ns, connection);
        sql::exec(db, begin);
        if (pg) {
            // Servers starting at once on one database make their schema one after the other.
            sql::exec(db, u"SELECT pg_advisory_xact_lock(hashtext('varelo prepare'))"_s);
            fresh = !schemaExists(db, ns.schema()); // another server may have made it meanwhile
            sql::exec(db, u"CREATE SCHEMA IF NOT EXISTS "_s + sql::quoted(ns.schema()));
        }
        createGlobals(db);
        for (const ClassDecl *decl : registry.all())
            createTable(db, *decl);
        // PostgreSQL makes the schema and its demo business in one transaction: a failed
        // seed leaves nothing behind, so the next start seeds again.
        if (pg && fresh && seed)
            seedDemo(db, ns.name, scale);
        sql::exec(db, u"COMMIT"_s);
        if (!pg && fresh && seed) {
            sql::exec(db, begin);
            try {
                seedDemo(db, ns.name, scale);
            } catch (...) {
                QSqlQuery(db).exec(u"ROLLBACK"_s);
                throw;
            }
            sql::exec(db, u"COMMIT"_s);
        }
        sql::exec(db, begin);
        if (pg)
            sql::exec(db, u"SELECT pg_advisory_xact_lock(hashtext('varelo prepare'))"_s);
        passwords::checkNamespace(db);
        for (const ClassDecl *decl : registry.all())
            if (decl->upgrade)
                decl->upgrade(db);
        sql::exec(db, u"COMMIT"_s);
        runlog::prepare(ns.store, db, ns);
        if (!pg) {
            // Until a WAL holds a commit it does not know the database's size, and every read
            // asks the file for it (a system call a read) until something is written: a commit
            // that changes nothing. The connection kept open below keeps that WAL.
            QSqlQuery version(db);
            if (!version.exec(u"PRAGMA user_version"_s) || !version.next())
                sql::fail(version);
            sql::exec(db, u"PRAGMA user_version="_s + QString::number(version.value(0).toLongLong()));
            sql::exec(db, u"PRAGMA optimize"_s);
        } else if (fresh)
            for (const QString &table : tables(db))
                sql::exec(db, u"ANALYZE "_s + sql::quoted(table));
    } catch (...) {
        close(connection);
        if (fresh && !pg) {
            // A half-made fresh database would never be seeded again: start over next time.
            for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s})
                QFile::remove(ns.path() + suffix);
        }
        throw;
    }
    // SQLite: the connection stays open while the server runs, so that the database's WAL
    // outlives the last job; the last connection's close checkpoints and deletes it.
    if (pg)
        close(connection);
}

void release(const Namespace &ns) { close(preparingConnection(ns)); }

} // namespace server::store
