#pragma once
// Small helpers every class file uses: late-bound arguments, refusals and SQL with bound values.

#include "factory/error.h"
#include "factory/values.h"
#include "server/classdecl.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>
#include <optional>

namespace server::classes {

// Late-bound text of a value, by the client's rule (factory::toText).
inline QString text(const QVariant &v) { return factory::toText(v); }
// Argument i as text; "" when the caller sent fewer.
QString arg(const QVariantList &args, int i);
// Refuses (2005) a call with fewer than min or more than max arguments.
void expectArgs(const QVariantList &args, int min, int max, const QString &what);
// A customer, supplier or group number as a user types it: blanks around it are ignored,
// anything but digits makes it no number.
std::optional<qint64> parseNumber(const QString &text);

[[noreturn]] void refuse(const QString &description); // 2009

// Prepared, bound and executed; a storage failure becomes factory::Error 4000.
QSqlQuery exec(QSqlDatabase db, const QString &sql, const QVariantList &binds = {});
// exec for a write a call runs once a row of a list: prepared once a connection.
void execRepeated(QSqlDatabase db, const QString &sql, const QVariantList &binds);
// First column of the first row, or an invalid QVariant.
QVariant scalar(QSqlDatabase db, const QString &sql, const QVariantList &binds = {});
// For rowsFromSql: forward-only, executed, still positioned before the first row.
std::unique_ptr<QSqlQuery> openQuery(QSqlDatabase db, const QString &sql, const QVariantList &binds);
// The rows of a query's SELECT, read lazily: the client's first batch costs that batch, not
// the whole range, on either store.
std::unique_ptr<RowSource> streamRows(CallContext &ctx, int columns, const QString &sql, const QVariantList &binds);

// Joins id parts the way composite object ids are built ("1||MUE").
QString joinId(const QStringList &parts);

bool tenantExists(QSqlDatabase db, const QString &firma);
// The tenant the calling job works for: its local FIRMA, set by the sign-in.
QString jobTenant(CallContext &ctx);

} // namespace server::classes
