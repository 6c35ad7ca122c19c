// The tenant master of the merchandise system and the web interface's parameters per tenant.

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"
#include "server/sqlutil.h"

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

ClassDecl firmaClass()
{
    ClassDecl c;
    c.name = u"VR.Firma"_s;
    c.table = tables::firma;
    c.properties = {plain(u"Firma"_s), shown(u"Name"_s), plain(u"Modus"_s)};
    c.idProperties = {u"Firma"_s};
    c.beforeSave = [](CallContext &, QVariantMap &p, bool) {
        if (!parseNumber(text(p.value(u"Firma"_s))))
            refuse(u"VR.Firma: Firmennummer '"_s + text(p.value(u"Firma"_s)) + u"' ist keine Zahl"_s);
        const QString mode = text(p.value(u"Modus"_s));
        if (!mode.isEmpty() && mode != u"server"_s && mode != u"ftp"_s)
            refuse(u"VR.Firma: Modus '"_s + mode + u"' ist weder \"server\" noch \"ftp\""_s);
    };
    return c;
}

ClassDecl paramClass()
{
    ClassDecl c;
    c.name = u"orvanta.param"_s;
    c.table = tables::param;
    c.properties = plainProperties({u"Firma"_s, u"dbgateway"_s, u"dbbmecat"_s, u"dbport"_s,
                                    u"fileexport"_s, u"fileimport"_s, u"liprart"_s, u"dbpraefix"_s});
    c.idProperties = {u"Firma"_s};
    c.onNew = [](QVariantMap &p, const QVariant &initial) {
        if (initial.isValid() && !initial.isNull())
            p.insert(u"Firma"_s, text(initial));
    };
    // Texts are kept exactly as typed; only the tenant has to be one.
    c.beforeSave = [](CallContext &ctx, QVariantMap &p, bool) {
        const QString firma = text(p.value(u"Firma"_s));
        if (!tenantExists(ctx.db(), firma))
            refuse(u"orvanta.param: Firma '"_s + firma + u"' ist kein Mandant"_s);
        p.insert(u"Firma"_s, firma);
    };

    // All tenants of the merchandise system, whether or not they have parameters yet.
    c.queries.insert(u"list"_s, [](CallContext &ctx, const QVariantList &args) {
        expectArgs(args, 0, 1, u"orvanta.param list"_s);
        QSqlQuery q = exec(ctx.db(), u"SELECT \"Firma\", \"Name\" FROM "_s + tables::firma
                                         + u" ORDER BY "_s + server::sql::textNumberOrder(ctx.db(), u"\"Firma\""_s) + u", \"Firma\""_s);
        QList<QVariantList> rows;
        while (q.next())
            rows.append({q.value(0).toString(), toDisplayForm(q.value(1).toString())});
        return rowsFromList(2, std::move(rows));
    });
    c.methods.insert(u"getmode"_s, [](CallContext &ctx, const QVariantList &args) -> QVariant {
        expectArgs(args, 1, 1, u"orvanta.param GetMode"_s);
        const QVariant mode = scalar(ctx.db(), u"SELECT \"Modus\" FROM "_s + tables::firma
                                                   + u" WHERE \"Firma\"=?"_s,
                                     {arg(args, 0).trimmed()});
        return mode.isValid() ? mode.toString() : QString();
    });
    return c;
}

} // namespace

void registerTenants(ClassRegistry &registry)
{
    registry.add(firmaClass());
    registry.add(paramClass());
}

} // namespace server::classes
