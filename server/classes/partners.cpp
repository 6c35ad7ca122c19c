// Customers and suppliers of the merchandise system, their groups and collective accounts,
// and the look-up query of both searches.

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

const QString customers = u"K"_s;
const QString suppliers = u"L"_s;

QVariant numberOrRefuse(const QVariantMap &p, const QString &property, const QString &cls, bool optional)
{
    const QString value = text(p.value(property));
    if (optional && value.trimmed().isEmpty())
        return QVariant();
    const auto n = parseNumber(value);
    if (!n)
        refuse(cls + u": "_s + property + u" '"_s + value + u"' ist keine Zahl"_s);
    return *n;
}

// Customers (Art "K") and suppliers (Art "L") share one table, so that one index serves the
// short-name search of both.
ClassDecl kkrClass()
{
    ClassDecl c;
    c.name = u"VR.KKR"_s;
    c.table = tables::kkr;
    c.properties = {plain(u"Firma"_s), plain(u"Art"_s),     plain(u"Nr"_s),  plain(u"KBEZ"_s),
                    PropertyDecl{u"Such"_s, {}, true},      shown(u"Name"_s), shown(u"Strasse"_s),
                    plain(u"PLZ"_s),   shown(u"Ort"_s),     plain(u"KGRP"_s), plain(u"SAKTO"_s)};
    c.idProperties = {u"Firma"_s, u"Art"_s, u"Nr"_s};
    // The second index serves the web lists, which join their numbers to the partners.
    c.indexes = {u"Firma,Art,Such,#Nr"_s, u"Firma,Art,Nr"_s};
    c.beforeSave = [](CallContext &ctx, QVariantMap &p, bool) {
        const QString art = text(p.value(u"Art"_s));
        if (art != customers && art != suppliers)
            refuse(u"VR.KKR: Art '"_s + art + u"' ist weder \"K\" noch \"L\""_s);
        if (!tenantExists(ctx.db(), text(p.value(u"Firma"_s))))
            refuse(u"VR.KKR: Firma '"_s + text(p.value(u"Firma"_s)) + u"' ist kein Mandant"_s);
        p.insert(u"Nr"_s, numberOrRefuse(p, u"Nr"_s, u"VR.KKR"_s, false));
        p.insert(u"KGRP"_s, numberOrRefuse(p, u"KGRP"_s, u"VR.KKR"_s, true));
        p.insert(u"SAKTO"_s, numberOrRefuse(p, u"SAKTO"_s, u"VR.KKR"_s, true));
        p.insert(u"Such"_s, toSearchForm(toDisplayForm(text(p.value(u"KBEZ"_s)))));
    };
    return c;
}

// KkrSuche(tenant, "K"|"L", short-name start, filter, filter): nr, short name, name, post
// code, street; name and street in server form. "K": customer group ("7 ", "12", "" = any)
// and post-code start ("" = any). "L": collective account ("1600 ", "" = any; "1" is what the
// client sends for an account item without a number, which cannot narrow the search: any).
std::unique_ptr<RowSource> kkrSuche(CallContext &ctx, const QVariantList &args)
{
    expectArgs(args, 3, 5, u"VR.Windows KkrSuche"_s);
    const QString art = arg(args, 1).trimmed().toUpper();
    if (art != customers && art != suppliers)
        refuse(u"VR.Windows KkrSuche: Art '"_s + arg(args, 1) + u"' ist weder \"K\" noch \"L\""_s);
    const QString term = toSearchForm(arg(args, 2));
    // Every text that begins with term sorts at or after it and before term + the last
    // code point, so the prefix search is a range on the index.
    const QString termEnd = term + QString::fromUcs4(U"\U0010FFFF", 1);

    QString sql = u"SELECT \"Nr\", \"KBEZ\", \"Name\", \"PLZ\", \"Strasse\" FROM "_s + tables::kkr
                  + u" WHERE \"Firma\"=? AND \"Art\"=? AND \"Such\">=? AND \"Such\"<?"_s;
    QVariantList binds{arg(args, 0).trimmed(), art, term, termEnd};
    const QString filter = arg(args, 3).trimmed();
    if (art == customers) {
        if (!filter.isEmpty()) {
            const auto group = parseNumber(filter);
            if (!group)
                return rowsFromList(5, {});
            sql += u" AND \"KGRP\"=?"_s;
            binds << *group;
        }
        if (const QString plz = arg(args, 4).trimmed(); !plz.isEmpty()) {
            sql += u" AND substr(\"PLZ\", 1, ?)=?"_s;
            binds << plz.size() << plz;
        }
    } else if (!filter.isEmpty() && filter != u"1"_s) {
        const auto account = parseNumber(filter);
        if (!account)
            return rowsFromList(5, {});
        sql += u" AND \"SAKTO\"=?"_s;
        binds << *account;
    }
    sql += u" ORDER BY \"Such\", "_s + server::sql::numberOrder(ctx.db(), u"\"Nr\""_s);
    return streamRows(ctx, 5, sql, binds);
}

ClassDecl kundenGruppenClass()
{
    ClassDecl c;
    c.name = u"VR.ParKundenGruppen"_s;
    c.table = tables::kundenGruppen;
    // Rabatt: the group's discount in percent, used by the conditions build.
    c.properties = {plain(u"Firma"_s), plain(u"KGRP"_s), shown(u"Text"_s), plain(u"AKTIV"_s),
                    plain(u"Rabatt"_s)};
    c.idProperties = {u"Firma"_s, u"KGRP"_s};
    c.beforeSave = [](CallContext &, QVariantMap &p, bool) {
        p.insert(u"KGRP"_s, numberOrRefuse(p, u"KGRP"_s, u"VR.ParKundenGruppen"_s, false));
    };
    // Gruppen(tenant, group ("" = all), "J" = active groups only): number, text in server form.
    c.queries.insert(u"gruppen"_s, [](CallContext &ctx, const QVariantList &args) {
        expectArgs(args, 1, 3, u"VR.ParKundenGruppen Gruppen"_s);
        QString sql = u"SELECT \"KGRP\", \"Text\" FROM "_s + tables::kundenGruppen + u" WHERE \"Firma\"=?"_s;
        QVariantList binds{arg(args, 0).trimmed()};
        if (const QString group = arg(args, 1).trimmed(); !group.isEmpty()) {
            sql += u" AND \"KGRP\"=?"_s;
            binds << parseNumber(group).value_or(-1);
        }
        if (arg(args, 2).trimmed().toUpper() == u"J"_s)
            sql += u" AND \"AKTIV\"='J'"_s;
        sql += u" ORDER BY "_s + server::sql::numberOrder(ctx.db(), u"\"KGRP\""_s);
        return streamRows(ctx, 2, sql, binds);
    });
    return c;
}

ClassDecl sammelKontenClass()
{
    ClassDecl c;
    c.name = u"VR.KontoSammelKontoKreis"_s;
    c.table = tables::sammelKonten;
    c.properties = {plain(u"Firma"_s), plain(u"Art"_s), plain(u"Konto"_s), shown(u"Text"_s)};
    c.idProperties = {u"Firma"_s, u"Art"_s, u"Konto"_s};
    c.beforeSave = [](CallContext &, QVariantMap &p, bool) {
        p.insert(u"Konto"_s, numberOrRefuse(p, u"Konto"_s, u"VR.KontoSammelKontoKreis"_s, false));
    };
    // SaKontoBez(tenant, "K"|"L", from account, to account; "" = open): number, text in server form.
    c.queries.insert(u"sakontobez"_s, [](CallContext &ctx, const QVariantList &args) {
        expectArgs(args, 2, 4, u"VR.KontoSammelKontoKreis SaKontoBez"_s);
        QString sql = u"SELECT \"Konto\", \"Text\" FROM "_s + tables::sammelKonten
                      + u" WHERE \"Firma\"=? AND \"Art\"=?"_s;
        QVariantList binds{arg(args, 0).trimmed(), arg(args, 1).trimmed().toUpper()};
        if (const auto from = parseNumber(arg(args, 2))) {
            sql += u" AND \"Konto\">=?"_s;
            binds << *from;
        }
        if (const auto to = parseNumber(arg(args, 3))) {
            sql += u" AND \"Konto\"<=?"_s;
            binds << *to;
        }
        sql += u" ORDER BY "_s + server::sql::numberOrder(ctx.db(), u"\"Konto\""_s);
        return streamRows(ctx, 2, sql, binds);
    });
    return c;
}

} // namespace

void registerPartners(ClassRegistry &registry)
{
    registry.add(kkrClass());
    registry.extend(u"VR.Windows"_s, [](ClassDecl &c) { c.queries.insert(u"kkrsuche"_s, kkrSuche); });
    registry.add(kundenGruppenClass());
    registry.add(sammelKontenClass());
}

} // namespace server::classes
