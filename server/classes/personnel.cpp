// Users, departments and persons of the merchandise system, as the sign-in reads them.

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"
#include "server/passwords.h"

#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

PropertyDecl secret(const QString &name)
{
    PropertyDecl p{name};
    p.hidden = true;
    return p;
}

void storePassword(QVariantMap &p, const QString &password)
{
    p.insert(u"PwHash"_s, passwords::hash(password));
    p.insert(u"PwBucket"_s, passwords::bucket(text(p.value(u"Firma"_s)), password));
    p.insert(u"Passwort"_s, QString());
}

// A data folder of a server that kept passwords in clear: each user's password becomes its
// hash, in the start-up transaction, so a failure leaves the clear store as it was. Users
// hashed already are not touched; a second start finds nothing to do.
void convertClearPasswords(QSqlDatabase db)
{
    QSqlQuery users = exec(db, u"SELECT id, \"Firma\", \"Passwort\" FROM "_s + tables::persEdv
                                   + u" WHERE COALESCE(\"PwHash\", '') = '' OR COALESCE(\"Passwort\", '') <> ''"_s);
    QList<QVariantList> pending;
    while (users.next())
        pending.append({users.value(0), users.value(1), users.value(2).toString()});
    users.finish();
    for (const QVariantList &u : std::as_const(pending)) {
        QVariantMap p{{u"Firma"_s, u[1]}};
        storePassword(p, u[2].toString());
        exec(db, u"UPDATE "_s + tables::persEdv + u" SET \"PwHash\"=?, \"PwBucket\"=?, \"Passwort\"='' WHERE id=?"_s,
             {p.value(u"PwHash"_s), p.value(u"PwBucket"_s), u[0]});
    }
    // The clear passwords' index goes with them.
    exec(db, u"DROP INDEX IF EXISTS \"vr_parpersedv_Firma_Passwort\""_s);
}

// The code as the client sends it (server form) or as a user types it ("bär"): upper case
// letter by letter, so "ß" stays one character as in the stored codes ("FU~").
QString codeInServerForm(const QString &typed)
{
    QString upper = typed.trimmed();
    for (QChar &c : upper)
        c = c.toUpper();
    return toServerForm(upper);
}

ClassDecl persEdvClass()
{
    ClassDecl c;
    c.name = u"VR.ParPersEdv"_s;
    c.table = tables::persEdv;
    // Code: the personnel code in server form, upper case ("B[R"). Passwort is never kept:
    // it always reads as "", and a password saved into it becomes PwHash and PwBucket
    // (server/passwords.h), which no client sees.
    c.properties = {plain(u"Firma"_s),  plain(u"Code"_s),  plain(u"Passwort"_s), plain(u"AKTIV"_s),
                    plain(u"FAJN"_s),   shown(u"PNAME"_s), plain(u"PNR"_s),      plain(u"ABTNR"_s),
                    plain(u"DW"_s),     plain(u"BERGRP"_s), secret(u"PwHash"_s), secret(u"PwBucket"_s)};
    c.idProperties = {u"Firma"_s, u"Code"_s};
    c.indexes = {u"Firma,PwBucket"_s};
    c.beforeSave = [](CallContext &ctx, QVariantMap &p, bool isNew) {
        if (!tenantExists(ctx.db(), text(p.value(u"Firma"_s))))
            refuse(u"VR.ParPersEdv: Firma '"_s + text(p.value(u"Firma"_s)) + u"' ist kein Mandant"_s);
        if (text(p.value(u"Code"_s)).isEmpty())
            refuse(u"VR.ParPersEdv: Personalcode fehlt"_s);
        // A stored Passwort reads as "", so a non-empty one here is a new password; a new
        // user without one gets the empty password, as the clear store had it.
        const QString password = text(p.value(u"Passwort"_s));
        if (!password.isEmpty() || isNew)
            storePassword(p, password);
    };
    c.upgrade = convertClearPasswords;

    // Who owns this password: the sign-in knows the password only, or (when it checks a
    // user it already knows) the code as well. Inactive users are found too, so that the
    // client can tell them apart from a wrong password; they sign nobody in.
    c.queries.insert(u"userviapasswort"_s, [](CallContext &ctx, const QVariantList &args) {
        expectArgs(args, 2, 3, u"VR.ParPersEdv UserViaPasswort"_s);
        const QString password = arg(args, 0);
        const QString tenant = arg(args, 1).trimmed();
        const QString code = codeInServerForm(arg(args, 2));
        QSqlQuery q = code.isEmpty()
                          ? exec(ctx.db(),
                                 u"SELECT \"Code\", \"PwHash\", \"AKTIV\" FROM "_s + tables::persEdv
                                     + u" WHERE \"Firma\"=? AND \"PwBucket\"=? ORDER BY \"Code\""_s,
                                 {tenant, passwords::bucket(tenant, password)})
                          : exec(ctx.db(),
                                 u"SELECT \"Code\", \"PwHash\", \"AKTIV\" FROM "_s + tables::persEdv
                                     + u" WHERE id=?"_s,
                                 {joinId({tenant, code})});
        QList<QVariantList> rows;
        bool firstActive = false;
        while (q.next()) {
            if (!passwords::verify(q.value(1).toString(), password))
                continue;
            if (rows.isEmpty())
                firstActive = q.value(2).toString() == u"J"_s;
            rows.append({q.value(0).toString()});
        }
        ctx.passwordChecked(rows.isEmpty() ? QString() : rows.first().first().toString(), firstActive);
        return rowsFromList(1, std::move(rows));
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
