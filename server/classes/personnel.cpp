// Users, departments and persons of the merchandise system, as the sign-in reads them.

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

ClassDecl persEdvClass()
{
    ClassDecl c;
    c.name = u"VR.ParPersEdv"_s;
    c.table = tables::persEdv;
    // Code: the personnel code in server form, upper case ("B[R").
    c.properties = {plain(u"Firma"_s),  plain(u"Code"_s),  plain(u"Passwort"_s), plain(u"AKTIV"_s),
                    plain(u"FAJN"_s),   shown(u"PNAME"_s), plain(u"PNR"_s),      plain(u"ABTNR"_s),
                    plain(u"DW"_s),     plain(u"BERGRP"_s)};
    c.idProperties = {u"Firma"_s, u"Code"_s};
    c.indexes = {u"Firma,Passwort"_s};
    c.beforeSave = [](CallContext &ctx, QVariantMap &p, bool) {
        if (!tenantExists(ctx.db(), text(p.value(u"Firma"_s))))
            refuse(u"VR.ParPersEdv: Firma '"_s + text(p.value(u"Firma"_s)) + u"' ist kein Mandant"_s);
        if (text(p.value(u"Code"_s)).isEmpty())
            refuse(u"VR.ParPersEdv: Personalcode fehlt"_s);
    };

    // Who owns this password: the sign-in knows the password only. Inactive users are found
    // too, so that the client can tell them apart from a wrong password.
    c.queries.insert(u"userviapasswort"_s, [](CallContext &ctx, const QVariantList &args) {
        expectArgs(args, 2, 3, u"VR.ParPersEdv UserViaPasswort"_s);
        QString sql = u"SELECT \"Code\" FROM "_s + tables::persEdv
                      + u" WHERE \"Firma\"=? AND \"Passwort\"=?"_s;
        QVariantList binds{arg(args, 1).trimmed(), arg(args, 0)};
        if (!arg(args, 2).isEmpty()) {
            sql += u" AND \"Code\"=?"_s;
            binds << arg(args, 2);
        }
        sql += u" ORDER BY \"Code\""_s;
        return rowsFromSql(1, openQuery(ctx.db(), sql, binds));
    });
    return c;
}

ClassDecl persAbtClass()
{
    ClassDecl c;
    c.name = u"VR.ParPersAbt"_s;
    c.table = tables::persAbt;
    c.properties = {plain(u"Firma"_s), plain(u"ABTNR"_s), shown(u"abtbez"_s), plain(u"HAbtNr"_s)};
    c.idProperties = {u"Firma"_s, u"ABTNR"_s};
    return c;
}

ClassDecl persBasisClass()
{
    ClassDecl c;
    c.name = u"VR.PersBasis"_s;
    c.table = tables::persBasis;
    c.properties = {plain(u"Firma"_s), plain(u"PNR"_s), shown(u"Name"_s), plain(u"Telefon"_s),
                    plain(u"Fax"_s), shown(u"EMail"_s)};
    c.idProperties = {u"Firma"_s, u"PNR"_s};
    return c;
}

} // namespace

void registerPersonnel(ClassRegistry &registry)
{
    registry.add(persEdvClass());
    registry.add(persAbtClass());
    registry.add(persBasisClass());
}

} // namespace server::classes
