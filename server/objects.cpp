#include "server/objects.h"

#include "server/sqlutil.h"
#include "server/store.h"
#include "server/values.h"
#include "factory/cbor.h"

#include <QScopeGuard>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using factory::Error;
namespace Code = factory::ErrorCode;

namespace server {

namespace {
const QString Separator = u"||"_s;

// A stored NULL is an empty value to the client, as an unset M node would be.
QVariant rawValue(const QVariant &stored) { return stored.isNull() ? QVariant(QString(u""_s)) : stored; }

// Stored the other way round: an empty value is stored as empty text, never as NULL, so
// that the class queries comparing a column with "" find it.
// A client's decimal is stored as the text every other reader makes of it (1e16 as
// "10000000000000000"); the database would write it in a form of its own ("1.0e+16").
QVariant storable(const QVariant &value)
{
    if (value.isNull())
        return QVariant(QString(u""_s));
    return value.typeId() == QMetaType::Double ? QVariant(values::text(value)) : value;
}

bool sameText(const QVariant &a, const QVariant &b) { return values::text(a) == values::text(b); }
} // namespace

QString displayForm(const PropertyDecl &property, const QVariant &raw)
{
    return property.display ? property.display(rawValue(raw)) : values::text(raw);
}

ObjectLayer::ClassInfo &ObjectLayer::info(const ClassDecl &decl)
{
    auto it = m_infos.find(&decl);
    if (it != m_infos.end())
        return it->second;
    ClassInfo info;
    info.decl = &decl;
    QStringList columns;
    for (int i = 0; i < decl.properties.size(); ++i) {
        const PropertyDecl &property = decl.properties[i];
        info.index.insert(property.name.toLower(), i);
        columns.append(sql::quoted(property.name));
        info.namesUtf8.append(property.name.toUtf8());
        info.shown += property.hidden ? 0 : 1;
        info.displayed += !property.hidden && property.display ? 1 : 0;
    }
    info.classUtf8 = decl.name.toUtf8();
    for (const QString &idProperty : decl.idProperties) {
        const int i = info.index.value(idProperty.toLower(), -1);
        if (i < 0)
            throw Error(Code::Internal, u"Klasse '"_s + decl.name + u"': Id-Eigenschaft '"_s + idProperty
                                            + u"' ist nicht deklariert"_s);
        info.idIndexes.append(i);
    }
    if (!decl.table.isEmpty()) {
        const QString table = sql::quoted(decl.table);
        const QString list = columns.isEmpty() ? u"id"_s : columns.join(u',');
        info.select = u"SELECT "_s + list + u" FROM "_s + table + u" WHERE id=?"_s;
        QStringList marks(columns.size(), u"?"_s);
        if (decl.idProperties.isEmpty() && sql::postgres(m_ctx.db())) {
            // Numbered as SQLite numbers a row: one past the highest. Two calls that number
            // at once meet at the key, and the second runs again.
            info.insert = u"INSERT INTO "_s + table + u" (id"_s + (columns.isEmpty() ? u""_s : u","_s + list)
                          + u") VALUES ((SELECT COALESCE(MAX(id), 0) + 1 FROM "_s + table + u')'
                          + (columns.isEmpty() ? u""_s : u","_s + marks.join(u',')) + u") RETURNING id"_s;
            info.insertReturnsId = true;
        } else if (decl.idProperties.isEmpty()) {
            info.insert = columns.isEmpty() ? QString(u"INSERT INTO "_s + table + u" DEFAULT VALUES"_s)
                                            : QString(u"INSERT INTO "_s + table + u" ("_s + list + u") VALUES ("_s
                                                      + marks.join(u',') + u')');
        } else {
            info.insert = u"INSERT INTO "_s + table + u" (id"_s + (columns.isEmpty() ? u""_s : u","_s + list)
                          + u") VALUES (?"_s + (columns.isEmpty() ? u""_s : u","_s + marks.join(u',')) + u')';
        }
        QStringList sets;
        for (const QString &c : columns)
            sets.append(c + u"=?"_s);
        if (!sets.isEmpty())
            info.update = u"UPDATE "_s + table + u" SET "_s + sets.join(u',') + u" WHERE id=?"_s;
    }
    return m_infos.emplace(&decl, std::move(info)).first->second;
}

ObjectLayer::ClassInfo &ObjectLayer::stored(const ClassDecl &decl)
{
    ClassInfo &i = info(decl);
    if (decl.table.isEmpty())
        throw Error(Code::UnknownClass, u"Klasse '"_s + decl.name + u"' hat keine gespeicherten Objekte"_s);
    if (!i.tableChecked) {
        // Classes resolved at run time may name a table this namespace has not made yet.
        QSqlDatabase db = m_ctx.db();
        if (!store::tableComplete(db, decl))
            store::createTable(db, decl);
        else
            i.tableChecked = true;
    }
    return i;
}

void ObjectLayer::notFound(const ClassInfo &info, const QString &id) const
{
    if (id.isNull())
        throw Error(Code::ObjectNotFound, u"Objekt "_s + info.decl->name + u" ist noch nicht gespeichert"_s);
    throw Error(Code::ObjectNotFound, u"Objekt "_s + info.decl->name + u" '"_s + id + u"' nicht gefunden"_s);
}

bool ObjectLayer::load(ClassInfo &info, const QString &id, QVariantList &values)
{
    QSqlQuery &q = sql::prepared(m_ctx.db(), info.select, info.selectQuery);
    if (!sql::firstRow(q, {keyOf(info, id)}, values))
        return false;
    const int n = int(info.decl->properties.size());
    values.resize(n);
    for (QVariant &v : values)
        v = rawValue(v);
    return true;
}

QVariantMap ObjectLayer::objectMap(const ClassInfo &info, const QString &id, const QVariantList &values) const
{
    QVariantMap object;
    for (int i = 0; i < values.size(); ++i)
        object.insert(info.decl->properties[i].name, values[i]);
    object.insert(u"%Id"_s, id);
    return object;
}

QCborMap ObjectLayer::describe(const ClassInfo &info, const QString &id, const QVariantList &values) const
{
    QCborMap p;
    QCborMap d;
    for (int i = 0; i < values.size(); ++i) {
        const PropertyDecl &property = info.decl->properties[i];
        if (property.hidden)
            continue;
        p.insert(property.name, values::toCbor(values[i]));
        if (property.display)
            d.insert(property.name, property.display(values[i]));
    }
    QCborMap answer;
    answer.insert(u"id"_s, id);
    answer.insert(u"p"_s, p);
    answer.insert(u"d"_s, d);
    return answer;
}

// What describe() answers and the class, without building the map first: opening an
// object is the most frequent call. `value(k)` writes property k's stored value,
// `display(property, k)` its display form.
template<typename WriteValue, typename WriteDisplay>
void ObjectLayer::writeObject(const ClassInfo &info, const QString &id, wire::CborWriter &w, WriteValue value,
                              WriteDisplay display)
{
    const ClassDecl &decl = *info.decl;
    w.map(4);
    w.key("id"_L1);
    w.text(id);
    w.key("p"_L1);
    w.map(info.shown);
    for (qsizetype k = 0; k < decl.properties.size(); ++k) {
        if (decl.properties[k].hidden)
            continue;
        w.utf8(info.namesUtf8[k]);
        value(int(k));
    }
    w.key("d"_L1);
    w.map(info.displayed);
    for (qsizetype k = 0; k < decl.properties.size(); ++k) {
        const PropertyDecl &property = decl.properties[k];
        if (property.hidden || !property.display)
            continue;
        w.utf8(info.namesUtf8[k]);
        display(property, int(k));
    }
    w.key("cls"_L1);
    w.utf8(info.classUtf8);
}

void ObjectLayer::open(const ClassDecl &decl, const QString &id, wire::CborWriter &w)
{
    ClassInfo &i = stored(decl);
    QSqlQuery &q = sql::prepared(m_ctx.db(), i.select, i.selectQuery);
    if (sqlite3_stmt *stmt = sql::sqliteStatement(q)) {
        // The row's cells go onto the wire as they are stored; only display forms need values.
        if (!sql::stepToFirstRow(q, stmt, {keyOf(i, id)}))
            notFound(i, id);
        const auto end = qScopeGuard([stmt] { sql::endRow(stmt); });
        const int columns = sqlite3_column_count(stmt);
        writeObject(
            i, id, w,
            [&](int k) {
                if (k < columns)
                    sql::writeSqliteCell(w, stmt, k);
                else
                    w.utf8({});
            },
            [&](const PropertyDecl &property, int k) {
                if (property.sameOnDisplay && k < columns) {
                    const QByteArrayView utf8 = sql::sqliteText(stmt, k);
                    if (!utf8.isNull() && property.sameOnDisplay(utf8))
                        return w.utf8(utf8);
                }
                w.text(property.display(rawValue(k < columns ? sql::sqliteCell(stmt, k) : QVariant())));
            });
        return;
    }
    if (!load(i, id, m_values))
        notFound(i, id);
    writeObject(
        i, id, w, [&](int k) { values::writeCbor(w, m_values[k]); },
        [&](const PropertyDecl &property, int k) { w.text(property.display(m_values[k])); });
}

QVariant ObjectLayer::keyOf(const ClassInfo &info, const QString &id) const
{
    if (!info.decl->idProperties.isEmpty())
        return id;
    bool ok = false;
    const qlonglong n = id.trimmed().toLongLong(&ok);
    if (!ok)
        throw Error(Code::InvalidId, u"Ungültige Objekt-Id '"_s + id + u"' für "_s + info.decl->name
                                         + u" (eine Zahl erwartet)"_s);
    return n;
}

QCborMap ObjectLayer::save(const ClassDecl &decl, const QCborValue &idValue, const QCborValue &init,
                           const QCborMap &changes)
{
    ClassInfo &info = stored(decl);
    const bool isNew = idValue.isNull() || idValue.isUndefined();
    QString id;
    QVariantList values;
    if (isNew) {
        values = QVariantList(decl.properties.size(), QVariant(QString(u""_s)));
        if (decl.onNew) {
            QVariantMap props = objectMap(info, {}, values);
            props.remove(u"%Id"_s);
            decl.onNew(props, values::fromCbor(init));
            for (int i = 0; i < decl.properties.size(); ++i)
                values[i] = props.value(decl.properties[i].name, values[i]);
        }
    } else {
        if (!idValue.isString() && !idValue.isInteger())
            throw Error(Code::Protocol, u"save: 'id' ist weder Text noch null"_s);
        id = idValue.isInteger() ? QString::number(idValue.toInteger()) : idValue.toString();
        if (!load(info, id, values))
            notFound(info, id);
    }

    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        const QString name = it.key().toString();
        const int i = info.index.value(name.toLower(), -1);
        if (i < 0 || decl.properties[i].hidden)
            throw Error(Code::UnknownProperty,
                        u"Eigenschaft '"_s + name + u"' gibt es in der Klasse '"_s + decl.name + u"' nicht"_s);
        const QVariant value = values::fromCbor(it.value());
        const PropertyDecl &property = decl.properties[i];
        if (sameText(values[i], value))
            continue;
        if (property.readOnly)
            throw Error(Code::ReadOnly, u"Eigenschaft '"_s + property.name + u"' der Klasse '"_s + decl.name
                                            + u"' ist schreibgeschützt"_s);
        if (!isNew && info.idIndexes.contains(i))
            throw Error(Code::ReadOnly, u"Eigenschaft '"_s + property.name + u"' ist Teil der Id von "_s
                                            + decl.name + u" '"_s + id + u"' und nicht zu ändern"_s);
        values[i] = value;
    }

    if (decl.beforeSave) {
        QVariantMap props = objectMap(info, id, values);
        decl.beforeSave(m_ctx, props, isNew);
        for (int i = 0; i < decl.properties.size(); ++i)
            values[i] = props.value(decl.properties[i].name, values[i]);
    }

    QSqlDatabase db = m_ctx.db();
    if (isNew) {
        if (!info.idIndexes.isEmpty()) {
            QStringList parts;
            for (int i : std::as_const(info.idIndexes)) {
                const QString part = values::text(values[i]);
                if (part.isEmpty())
                    throw Error(Code::InvalidId, u"Objekt-Id von "_s + decl.name + u" unvollständig: '"_s
                                                     + decl.properties[i].name + u"' fehlt"_s);
                // The parts of an id are text, as the id is: a tenant given as the number 1
                // must be found by the text "1" (SQLite compares 1 and '1' as different).
                values[i] = part;
                parts.append(part);
            }
            id = parts.join(Separator);
            QVariantList existing;
            if (load(info, id, existing))
                throw Error(Code::InvalidId, u"Objekt "_s + decl.name + u" '"_s + id + u"' gibt es schon"_s);
        }
        QSqlQuery &q = sql::prepared(db, info.insert);
        int pos = 0;
        if (!info.idIndexes.isEmpty())
            q.bindValue(pos++, id);
        for (const QVariant &v : std::as_const(values))
            q.bindValue(pos++, storable(v));
        sql::exec(q);
        if (info.insertReturnsId)
            id = q.next() ? QString::number(q.value(0).toLongLong()) : QString();
        else if (info.idIndexes.isEmpty())
            id = QString::number(q.lastInsertId().toLongLong());
        q.finish();
    } else {
        if (!info.update.isEmpty()) {
            QSqlQuery &q = sql::prepared(db, info.update);
            int pos = 0;
            for (const QVariant &v : std::as_const(values))
                q.bindValue(pos++, storable(v));
            if (info.idIndexes.isEmpty())
                q.bindValue(pos, id.trimmed().toLongLong());
            else
                q.bindValue(pos, id);
            sql::exec(q);
            q.finish();
        }
    }
    return describe(info, id, values);
}

QVariant ObjectLayer::call(const ClassDecl &decl, const QString &id, const QString &method, const QVariantList &args)
{
    const QString key = method.toLower();
    if (auto m = decl.instanceMethods.constFind(key); m != decl.instanceMethods.constEnd()) {
        ClassInfo &i = stored(decl);
        QVariantList values;
        if (!load(i, id, values))
            notFound(i, id);
        return m.value()(m_ctx, objectMap(i, id, values), args);
    }
    static const QString suffix = u"logicaltoodbc"_s;
    if (key.endsWith(suffix)) {
        ClassInfo &i = info(decl);
        const int p = i.index.value(key.chopped(suffix.size()), -1);
        if (p >= 0 && !decl.properties[p].hidden) {
            if (args.size() > 1)
                throw Error(Code::ArgumentCount, method + u" von "_s + decl.name + u" erwartet ein Argument"_s);
            if (args.size() == 1)
                return displayForm(decl.properties[p], args[0]);
            ClassInfo &s = stored(decl);
            QVariantList values;
            if (!load(s, id, values))
                notFound(s, id);
            return displayForm(decl.properties[p], values[p]);
        }
    }
    throw Error(Code::UnknownMethod,
                u"Methode '"_s + method + u"' gibt es in der Klasse '"_s + decl.name + u"' nicht"_s);
}

} // namespace server
