// M globals in one table: (name, key, value). The key holds the subscripts, each escaped
// and ended by \x01, so every node of a subtree starts with its parent's key and the
// subtree is one range scan: [key, key with its last \x01 raised to \x02).
#include "server/classdecl.h"
#include "server/sqlutil.h"

using namespace Qt::StringLiterals;

namespace server::globals {

namespace {

QString encodeKey(const QStringList &subscripts)
{
    QString key;
    key.reserve(32); // never a null string: that would be bound as SQL NULL
    for (const QString &s : subscripts) {
        for (QChar c : s) {
            switch (c.unicode()) {
            case 0:
                key += u"\x02\x05"_s;
                break;
            case 1:
                key += u"\x02\x03"_s;
                break;
            case 2:
                key += u"\x02\x04"_s;
                break;
            default:
                key += c;
            }
        }
        key += QChar(1);
    }
    return key;
}

// First key past every descendant of a non-empty key.
QString subtreeEnd(const QString &key)
{
    QString end = key;
    end[end.size() - 1] = QChar(2);
    return end;
}

} // namespace

std::optional<QString> get(QSqlDatabase db, const QString &name, const QStringList &subscripts)
{
    QSqlQuery &q = sql::prepared(db, u"SELECT value FROM globals WHERE name=? AND key=?"_s);
    thread_local QVariantList row;
    if (!sql::firstRow(q, {name, encodeKey(subscripts)}, row))
        return std::nullopt;
    return row.value(0).toString();
}

void set(QSqlDatabase db, const QString &name, const QStringList &subscripts, const QString &value)
{
    QSqlQuery &q = sql::prepared(
        db, u"INSERT INTO globals(name, key, value) VALUES(?,?,?) ON CONFLICT(name, key) DO UPDATE SET value=excluded.value"_s);
    q.bindValue(0, name);
    q.bindValue(1, encodeKey(subscripts));
    q.bindValue(2, value);
    sql::exec(q);
    q.finish();
}

void kill(QSqlDatabase db, const QString &name, const QStringList &subscripts)
{
    if (subscripts.isEmpty()) {
        QSqlQuery &q = sql::prepared(db, u"DELETE FROM globals WHERE name=?"_s);
        q.bindValue(0, name);
        sql::exec(q);
        q.finish();
        return;
    }
    const QString key = encodeKey(subscripts);
    QSqlQuery &q = sql::prepared(db, u"DELETE FROM globals WHERE name=? AND key>=? AND key<?"_s);
    q.bindValue(0, name);
    q.bindValue(1, key);
    q.bindValue(2, subtreeEnd(key));
    sql::exec(q);
    q.finish();
}

int data(QSqlDatabase db, const QString &name, const QStringList &subscripts)
{
    const QString key = encodeKey(subscripts);
    QSqlQuery *query;
    if (subscripts.isEmpty()) {
        query = &sql::prepared(db, u"SELECT EXISTS(SELECT 1 FROM globals WHERE name=? AND key=''),"
                                   " EXISTS(SELECT 1 FROM globals WHERE name=? AND key>'')"_s);
        query->bindValue(0, name);
        query->bindValue(1, name);
    } else {
        query = &sql::prepared(db, u"SELECT EXISTS(SELECT 1 FROM globals WHERE name=? AND key=?),"
                                   " EXISTS(SELECT 1 FROM globals WHERE name=? AND key>? AND key<?)"_s);
        query->bindValue(0, name);
        query->bindValue(1, key);
        query->bindValue(2, name);
        query->bindValue(3, key);
        query->bindValue(4, subtreeEnd(key));
    }
    QSqlQuery &q = *query;
    sql::exec(q);
    sql::Finish finish(q);
    if (!q.next())
        return 0;
    return (q.value(0).toInt() ? 1 : 0) + (q.value(1).toInt() ? 10 : 0);
}

} // namespace server::globals
