#include "server/copystore.h"

#include "server/passwords.h"
#include "server/runlog.h"
#include "server/sqlutil.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace server::store {

namespace {

constexpr int RowsPerInsert = 200;

[[noreturn]] void refuse(const QString &text) { throw factory::Error(factory::ErrorCode::Storage, text); }

// SQLite keeps a number's kind, PostgreSQL its text. Copied into SQLite, a column takes the
// kind the same column has in a SQLite namespace of the demo business, so that comparisons
// and orders find the values as the classes store them.
QHash<QString, QString> sqliteKinds(const QString &ns, const ClassRegistry &registry)
{
    QHash<QString, QString> kinds; // "table\ncolumn" -> "integer" or "real"
    const QString connection = u"copy-kinds"_s;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
        db.setDatabaseName(u":memory:"_s);
        if (!db.open())
            refuse(u"Vorlage der Zahlenspalten nicht anzulegen"_s);
        sql::exec(db, u"BEGIN"_s);
        createGlobals(db);
        for (const ClassDecl *decl : registry.all())
            createTable(db, *decl);
        seedDemo(db, ns, 1);
        for (const ClassDecl *decl : registry.all())
            if (decl->upgrade)
                decl->upgrade(db); // the hashed passwords, as a start makes them
        for (const QString &table : tables(db)) {
            for (const QString &column : columns(db, table)) {
                QSqlQuery q(db);
                if (!q.exec(u"SELECT typeof("_s + sql::quoted(column) + u"), count(*) FROM "_s + sql::quoted(table)
                            + u" WHERE "_s + sql::quoted(column) + u" IS NOT NULL GROUP BY 1 ORDER BY 2 DESC LIMIT 1"_s))
                    sql::fail(q);
                if (q.next() && q.value(0).toString() != u"text"_s)
                    kinds.insert(table.toLower() + u'\n' + column.toLower(), q.value(0).toString());
            }
        }
        QSqlQuery(db).exec(u"ROLLBACK"_s);
    }
    close(connection);
    return kinds;
}

QVariant asKind(const QVariant &value, const QString &kind)
{
    if (kind.isEmpty() || value.typeId() != QMetaType::QString)
        return value;
    bool ok = false;
    const QString text = value.toString();
    if (kind == u"integer"_s) {
        const qlonglong n = text.toLongLong(&ok);
        return ok && QString::number(n) == text ? QVariant(n) : value;
    }
    const double d = text.toDouble(&ok);
    return ok ? QVariant(d) : value;
}

void createLike(QSqlDatabase target, QSqlDatabase source, const QString &table, const QStringList &cols)
{
    // A table no declaration names (say, of a class the server resolves when asked): its
    // columns as text, its id numbered when the source's ids are all numbers.
    QSqlQuery ids(source);
    const QString notANumber = sql::postgres(source) ? u"CAST(id AS TEXT) !~ '^[0-9]+$'"_s
                                                     : u"(CAST(id AS TEXT) GLOB '*[^0-9]*' OR id = '')"_s;
    const bool numbered = cols.contains(u"id"_s)
                          && ids.exec(u"SELECT count(*) FROM "_s + sql::quoted(table) + u" WHERE "_s + notANumber)
                          && ids.next() && ids.value(0).toLongLong() == 0;
    QStringList defs;
    for (const QString &c : cols)
        defs.append(c == u"id"_s ? u"id "_s + idColumnType(target, numbered) : sql::quoted(c) + valueColumnType(target));
    sql::exec(target, u"CREATE TABLE "_s + sql::quoted(table) + u" ("_s + defs.join(u", "_s) + u')');
}

qint64 copyTable(QSqlDatabase source, QSqlDatabase target, const QString &table,
                 const QHash<QString, QString> &kinds)
{
    const QStringList cols = columns(source, table);
    if (cols.isEmpty())
        return 0;
    if (!tables(target).contains(table))
        createLike(target, source, table, cols);
    const QStringList existing = columns(target, table);
    QStringList quoted;
    QStringList columnKinds;
    for (const QString &c : cols) {
        if (!existing.contains(c, Qt::CaseInsensitive))
            sql::exec(target, u"ALTER TABLE "_s + sql::quoted(table) + u" ADD COLUMN "_s + sql::quoted(c)
                                  + valueColumnType(target));
        quoted.append(sql::quoted(c));
        columnKinds.append(kinds.value(table.toLower() + u'\n' + c.toLower()));
    }
    sql::exec(target, u"DELETE FROM "_s + sql::quoted(table));

    QSqlQuery rows(source);
    rows.setForwardOnly(true);
    if (!rows.exec(u"SELECT "_s + quoted.join(u',') + u" FROM "_s + sql::quoted(table)))
        sql::fail(rows);
    const QString head = u"INSERT INTO "_s + sql::quoted(table) + u" ("_s + quoted.join(u',') + u") VALUES "_s;
    const QString oneRow = u'(' + QStringList(cols.size(), u"?"_s).join(u',') + u')';
    QList<QVariantList> batch;
    qint64 copied = 0;
    auto flush = [&] {
        if (batch.isEmpty())
            return;
        QSqlQuery insert(target);
        if (!insert.prepare(head + QStringList(batch.size(), oneRow).join(u',')))
            sql::fail(insert);
        for (const QVariantList &row : std::as_const(batch))
            for (const QVariant &v : row)
                insert.addBindValue(v);
        sql::exec(insert);
        copied += batch.size();
        batch.clear();
    };
    while (rows.next()) {
        QVariantList row;
        row.reserve(cols.size());
        for (int i = 0; i < cols.size(); ++i)
            row.append(sql::postgres(target) ? rows.value(i) : asKind(rows.value(i), columnKinds[i]));
        batch.append(std::move(row));
        if (batch.size() == RowsPerInsert)
            flush();
    }
    flush();
    return copied;
}

// What prepare made of a namespace the copy did not finish.
void dropNamespace(const Namespace &ns)
{
    if (!ns.store.postgres()) {
        for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s})
            QFile::remove(ns.path() + suffix);
        return;
    }
    const QString connection = u"copy-drop"_s;
    try {
        QSqlDatabase db = open(ns, connection);
        QSqlQuery(db).exec(u"DROP SCHEMA IF EXISTS "_s + sql::quoted(ns.schema()) + u" CASCADE"_s);
    } catch (const factory::Error &) {
        // Nothing to drop when the database cannot be reached.
    }
    close(connection);
}

void copyRuns(const Namespace &from, const Namespace &to)
{
    const QList<QVariantList> runs = runlog::list(from.store, from.name, {}, 0);
    for (auto it = runs.crbegin(); it != runs.crend(); ++it)
        runlog::copy(to.store, to.name, *it);
}

} // namespace

qint64 copyNamespace(const Namespace &from, const Namespace &to, const ClassRegistry &registry)
{
    if (from.store.postgres() == to.store.postgres() && from.store.folder == to.store.folder
        && from.store.uri == to.store.uri)
        refuse(u"Quelle und Ziel sind derselbe Speicher"_s);
    if (!exists(from))
        refuse(u"Namensraum "_s + from.name + u" gibt es in "_s + from.store.describe() + u" nicht"_s);
    if (exists(to))
        refuse(u"Namensraum "_s + to.name + u" gibt es in "_s + to.store.describe() + u" schon; nichts kopiert"_s);

    if (!to.store.postgres() && !QDir().mkpath(to.store.folder))
        refuse(u"Datenordner '"_s + to.store.folder + u"' nicht anzulegen"_s);
    const QString sourceName = u"copy-from"_s;
    const QString targetName = u"copy-to"_s;
    qint64 copied = 0;
    try {
        QSqlDatabase source = open(from, sourceName);
        // Passwords are hashed under the key of --data; another key would refuse them all.
        passwords::checkNamespace(source);
        const QHash<QString, QString> kinds = to.store.postgres() ? QHash<QString, QString>()
                                                                  : sqliteKinds(to.name, registry);
        prepare(to, registry, false, 1);
        QSqlDatabase target = open(to, targetName);
        sql::exec(source, u"BEGIN"_s); // one snapshot of the source
        sql::exec(target, sql::postgres(target) ? u"BEGIN"_s : u"BEGIN IMMEDIATE"_s);
        for (const QString &table : tables(source))
            copied += copyTable(source, target, table, kinds);
        sql::exec(target, u"COMMIT"_s);
        QSqlQuery(source).exec(u"ROLLBACK"_s);
        copyRuns(from, to);
    } catch (...) {
        close(sourceName);
        close(targetName);
        dropNamespace(to);
        throw;
    }
    close(sourceName);
    close(targetName);
    return copied;
}

} // namespace server::store
