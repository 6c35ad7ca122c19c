#include "server/classes/sqlutil.h"

#include "server/sqlutil.h"

#include <QSqlDriver>
#include <QSqlField>

#include "server/classes/tables.h"
#include "server/sqlutil.h"

#include <QSqlError>


using namespace Qt::StringLiterals;

namespace server::classes {

QString arg(const QVariantList &args, int i) { return i < args.size() ? text(args.at(i)) : QString(); }

void expectArgs(const QVariantList &args, int min, int max, const QString &what)
{
    if (args.size() < min || args.size() > max) {
        const QString wanted = min == max ? QString::number(min)
                                          : QString::number(min) + u" bis "_s + QString::number(max);
        throw factory::Error(factory::ErrorCode::ArgumentCount,
                             what + u" erwartet "_s + wanted + u" Argumente, erhalten: "_s
                                 + QString::number(args.size()));
    }
}

std::optional<qint64> parseNumber(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 15)
        return std::nullopt;
    for (QChar c : t) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    return t.toLongLong();
}

void refuse(const QString &description) { throw factory::Error(factory::ErrorCode::Refused, description); }

namespace {
// A null QString binds as SQL NULL, which equals nothing; the store keeps "" for empty text.
QVariant bindable(const QVariant &v)
{
    return v.typeId() == QMetaType::QString && v.toString().isNull() ? QVariant(QString(u""_s)) : v;
}

QVariantList bindables(const QVariantList &binds)
{
    QVariantList bound;
    bound.reserve(binds.size());
    for (const QVariant &b : binds)
        bound.append(bindable(b));
    return bound;
}

[[noreturn]] void storageFailure(const QSqlQuery &q, const QString &sql)
{
    if (server::sql::isBusy(q.lastError()))
        server::sql::fail(q);
    throw factory::Error(factory::ErrorCode::Storage,
                         u"Speicherfehler: "_s + q.lastError().text() + u" ("_s + sql.left(80) + u")"_s);
}
} // namespace

QSqlQuery exec(QSqlDatabase db, const QString &sql, const QVariantList &binds)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (binds.isEmpty()) {
        // Nothing to bind: run as it stands (PostgreSQL prepares no DDL).
        if (!q.exec(sql))
            storageFailure(q, sql);
        return q;
    }
    if (!q.prepare(sql))
        storageFailure(q, sql);
    for (const QVariant &b : binds)
        q.addBindValue(bindable(b));
    if (!q.exec())
        storageFailure(q, sql);
    return q;
}

void execRepeated(QSqlDatabase db, const QString &sql, const QVariantList &binds)
{
    server::sql::run(server::sql::prepared(db, sql), bindables(binds));
}

QVariant scalar(QSqlDatabase db, const QString &sql, const QVariantList &binds)
{
    // Kept prepared: a method that reads one value is called often (GetMode, look-ups).
    QSqlQuery &q = sql::prepared(db, sql);
    QVariantList row;
    return sql::firstRow(q, bindables(binds), row) ? row.value(0) : QVariant();
}

std::unique_ptr<QSqlQuery> openQuery(QSqlDatabase db, const QString &sql, const QVariantList &binds)
{
    auto q = std::make_unique<QSqlQuery>(db);
    q->setForwardOnly(true);
    if (!q->prepare(sql))
        storageFailure(*q, sql);
    for (const QVariant &b : binds)
        q->addBindValue(bindable(b));
    if (!q->exec())
        storageFailure(*q, sql);
    return q;
}

namespace {
// The bound values written into the statement as quoted literals, escaped by the driver (a
// cursor takes no parameters). Marks inside quoted literals and names are left alone.
QString inlined(const QSqlDatabase &db, const QString &sql, const QVariantList &binds)
{
    QString out;
    out.reserve(sql.size() + 16 * binds.size());
    qsizetype next = 0;
    QChar quote;
    for (QChar c : sql) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u'?') {
            if (next >= binds.size())
                throw factory::Error(factory::ErrorCode::Internal, u"Zu wenige Werte für die Abfrage"_s);
            // As text, which PostgreSQL turns into what the place needs, as for a bound value.
            QSqlField field(QString(), QMetaType::fromType<QString>());
            field.setValue(text(binds[next++]));
            out += db.driver()->formatValue(field);
            continue;
        }
        out += c;
    }
    return out;
}
} // namespace

std::unique_ptr<RowSource> streamRows(CallContext &ctx, int columns, const QString &sql, const QVariantList &binds)
{
    QSqlDatabase db = ctx.db();
    if (server::sql::postgres(db) && ctx.dbIsQueryConnection())
        return rowsFromCursor(columns, db, inlined(db, sql, binds));
    return rowsFromSql(columns, openQuery(db, sql, binds));
}

QString joinId(const QStringList &parts) { return parts.join(u"||"_s); }

bool tenantExists(QSqlDatabase db, const QString &firma)
{
    return !firma.isEmpty()
        && scalar(db, u"SELECT 1 FROM "_s + tables::firma + u" WHERE \"Firma\"=?"_s, {firma}).isValid();
}

QString jobTenant(CallContext &ctx) { return ctx.xecute(u"W $G(FIRMA)"_s).trimmed(); }

} // namespace server::classes
