// Article types and articles of the merchandise system, and the web interface's choice of types.

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

ClassDecl artikeltypClass()
{
    ClassDecl c;
    c.name = u"VR.Artikeltyp"_s;
    c.table = tables::artikeltyp;
    c.properties = {plain(u"Firma"_s), plain(u"Code"_s), shown(u"Bez"_s)};
    c.idProperties = {u"Firma"_s, u"Code"_s};
    c.beforeSave = [](CallContext &, QVariantMap &p, bool) {
        const QString code = text(p.value(u"Code"_s));
        if (code.isEmpty() || code.contains(u'|'))
            refuse(u"VR.Artikeltyp: Code '"_s + code + u"' ist leer oder enthält \"|\""_s);
    };
    return c;
}

ClassDecl artikelClass()
{
    ClassDecl c;
    c.name = u"VR.Artikel"_s;
    c.table = tables::artikel;
    // Preis: list price in euros; GueltigAb: first day of validity, yyyy-MM-dd;
    // Lieferant: the supplier's number.
    c.properties = {plain(u"Firma"_s), plain(u"Artnr"_s),   shown(u"Bez"_s),     plain(u"HGRP"_s),
                    plain(u"UGRP"_s),  plain(u"Atyp"_s),    plain(u"Einheit"_s), plain(u"Preis"_s),
                    plain(u"GueltigAb"_s), plain(u"Lieferant"_s)};
    c.idProperties = {u"Firma"_s, u"Artnr"_s};
    return c;
}

// getatyp(tenant): code|description|selected, descriptions in display form; 0 = no types.
QVariant getatyp(CallContext &ctx, const QVariantList &args)
{
    expectArgs(args, 1, 1, u"orvanta.atyp getatyp"_s);
    const QString firma = arg(args, 0).trimmed();
    QSqlQuery q = exec(ctx.db(),
                       u"SELECT t.\"Code\", t.\"Bez\", EXISTS(SELECT 1 FROM "_s + tables::atyp
                           + u" a WHERE a.\"Firma\"=t.\"Firma\" AND a.\"atyp\"=t.\"Code\") FROM "_s
                           + tables::artikeltyp + u" t WHERE t.\"Firma\"=? ORDER BY t.\"Code\""_s,
                       {firma});
    QStringList records;
    while (q.next()) {
        records << q.value(0).toString() + u'|' + toDisplayForm(q.value(1).toString()) + u'|'
                       + (q.value(2).toInt() ? u"1"_s : u"0"_s);
    }
    if (records.isEmpty())
        return 0;
    return ctx.newList(records);
}

ClassDecl atypClass()
{
    ClassDecl c;
    c.name = u"orvanta.atyp"_s;
    c.table = tables::atyp;
    c.properties = {plain(u"Firma"_s), plain(u"atyp"_s)};
    c.indexes = {u"Firma,atyp"_s};
    c.beforeSave = [](CallContext &ctx, QVariantMap &p, bool) {
        const QString firma = text(p.value(u"Firma"_s)).trimmed();
        const QString code = text(p.value(u"atyp"_s));
        if (!scalar(ctx.db(), u"SELECT 1 FROM "_s + tables::artikeltyp + u" WHERE \"Firma\"=? AND \"Code\"=?"_s,
                    {firma, code})
                 .isValid())
            refuse(u"orvanta.atyp: Artikeltyp '"_s + code + u"' gibt es bei Firma '"_s + firma + u"' nicht"_s);
        p.insert(u"Firma"_s, firma);
    };
    c.methods.insert(u"getatyp"_s, getatyp);
    c.methods.insert(u"delete"_s, [](CallContext &ctx, const QVariantList &args) -> QVariant {
        expectArgs(args, 1, 1, u"orvanta.atyp Delete"_s);
        QSqlQuery q = exec(ctx.db(), u"DELETE FROM "_s + tables::atyp + u" WHERE \"Firma\"=?"_s,
                           {arg(args, 0).trimmed()});
        return q.numRowsAffected();
    });
    return c;
}

} // namespace

void registerArticles(ClassRegistry &registry)
{
    registry.add(artikeltypClass());
    registry.add(artikelClass());
    registry.add(atypClass());
}

} // namespace server::classes
