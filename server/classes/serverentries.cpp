// The stored server connection entries the client's server list offers.

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

// The client keeps an entry id in one byte and takes 255 for "none".
constexpr qint64 highestEntryId = 254;

ClassDecl kassaSWClass()
{
    ClassDecl c;
    c.name = u"VR.KassaSW"_s;
    c.table = tables::kassaSW;
    c.properties = {shown(u"Name"_s), plain(u"Firma"_s),     plain(u"FIL"_s),  plain(u"ip"_s),
                    plain(u"PORT"_s), plain(u"NAMESPACE"_s), plain(u"Type"_s),
                    PropertyDecl{u"sys_ID"_s, {}, true}};
    // sys_ID mirrors the server-numbered id; the store hands out max(id) + 1.
    c.beforeSave = [](CallContext &ctx, QVariantMap &p, bool isNew) {
        if (!isNew)
            return;
        const qint64 next = scalar(ctx.db(), u"SELECT COALESCE(MAX(id) + 1, 1) FROM "_s + tables::kassaSW)
                                .toLongLong();
        if (next > highestEntryId)
            refuse(u"VR.KassaSW: keine freie Eintragsnummer (0 bis 254)"_s);
        p.insert(u"sys_ID"_s, next);
    };

    // Arguments: entry type ("" = any), start of the name ("" = any).
    c.queries.insert(u"connstrg"_s, [](CallContext &ctx, const QVariantList &args) {
        expectArgs(args, 0, 2, u"VR.KassaSW ConnStrg"_s);
        QString sql = u"SELECT id, \"Name\" FROM "_s + tables::kassaSW + u" WHERE 1=1"_s;
        QVariantList binds;
        if (const QString type = arg(args, 0).trimmed(); !type.isEmpty()) {
            // The client writes the type as a number; PostgreSQL keeps it as text.
            sql += server::sql::postgres(ctx.db()) ? u" AND COALESCE(\"Type\", '0')=?"_s : u" AND COALESCE(\"Type\", 0)=?"_s;
            binds << type.toLongLong();
        }
        sql += u" ORDER BY id"_s;
        const QString namePrefix = arg(args, 1);
        QSqlQuery q = exec(ctx.db(), sql, binds);
        QList<QVariantList> rows;
        while (q.next()) {
            const QString name = toDisplayForm(q.value(1).toString());
            if (name.startsWith(namePrefix))
                rows.append({q.value(0).toLongLong(), name});
        }
        return rowsFromList(2, std::move(rows));
    });
    return c;
}

} // namespace

void registerServerEntries(ClassRegistry &registry) { registry.add(kassaSWClass()); }

} // namespace server::classes
