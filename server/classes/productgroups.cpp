// The merchandise system's product groups and the web interface's choice of them per customer.

#include "server/classes/productgroups.h"

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes {

QString productGroupNumber(qint64 main, qint64 sub)
{
    const auto two = [](qint64 n) { return QString::number(n).rightJustified(2, u'0'); };
    return two(main) + two(sub);
}

QSet<QString> chosenProductGroups(QSqlDatabase db, const QString &firma, const QString &kunde)
{
    QSqlQuery q = exec(db, u"SELECT \"numwarengruppe\" FROM "_s + tables::wargr
                               + u" WHERE \"Firma\"=? AND \"numkunde\"=?"_s,
                       {firma, canonicalCustomer(kunde)});
    QSet<QString> chosen;
    while (q.next())
        chosen.insert(q.value(0).toString());
    return chosen;
}

bool releasedBy(const QSet<QString> &choice, qint64 main, qint64 sub)
{
    return choice.contains(productGroupNumber(main, sub)) || choice.contains(productGroupNumber(main, 0));
}

QString canonicalCustomer(const QString &kunde)
{
    if (kunde.trimmed().isEmpty())
        return u""_s; // the general choice: stored as empty text
    const auto n = parseNumber(kunde);
    return n ? QString::number(*n) : kunde;
}

namespace {

ClassDecl warengruppeClass()
{
    ClassDecl c;
    c.name = u"VR.Warengruppe"_s;
    c.table = tables::warengruppe;
    // UGRP 0 is the main group itself.
    c.properties = {plain(u"Firma"_s), plain(u"HGRP"_s), plain(u"UGRP"_s), shown(u"Bez"_s)};
    c.idProperties = {u"Firma"_s, u"HGRP"_s, u"UGRP"_s};
    c.beforeSave = [](CallContext &, QVariantMap &p, bool) {
        for (const QString &prop : {u"HGRP"_s, u"UGRP"_s}) {
            const auto n = parseNumber(text(p.value(prop)));
            if (!n)
                refuse(u"VR.Warengruppe: "_s + prop + u" '"_s + text(p.value(prop)) + u"' ist keine Zahl"_s);
            p.insert(prop, *n);
        }
    };
    return c;
}

// getwargr(tenant, customer): main|sub|description|selected|override for every product group,
// each main group followed by its subgroups; descriptions in display form (the server form's
// "|" would split the record). Override marks a main group that is not chosen itself while
// some of its subgroups are: the client opens it expanded and unticked. 0 = no product groups.
QVariant getwargr(CallContext &ctx, const QVariantList &args)
{
    expectArgs(args, 1, 2, u"orvanta.wargr getwargr"_s);
    const QString firma = arg(args, 0).trimmed();
    const QSet<QString> chosen = chosenProductGroups(ctx.db(), firma, arg(args, 1));

    struct Group { qint64 main; qint64 sub; QString text; };
    QList<Group> groups;
    QSqlQuery q = exec(ctx.db(), u"SELECT \"HGRP\", \"UGRP\", \"Bez\" FROM "_s + tables::warengruppe
                                     + u" WHERE \"Firma\"=? ORDER BY "_s
                                     + server::sql::numberOrder(ctx.db(), u"\"HGRP\""_s) + u", "_s
                                     + server::sql::numberOrder(ctx.db(), u"\"UGRP\""_s),
                       {firma});
    while (q.next())
        groups.append({q.value(0).toLongLong(), q.value(1).toLongLong(), toDisplayForm(q.value(2).toString())});
    if (groups.isEmpty())
        return 0;

    QSet<qint64> mainsWithChosenSub;
    for (const Group &g : groups) {
        if (g.sub != 0 && chosen.contains(productGroupNumber(g.main, g.sub)))
            mainsWithChosenSub.insert(g.main);
    }
    QStringList records;
    records.reserve(groups.size());
    for (const Group &g : groups) {
        const bool selected = chosen.contains(productGroupNumber(g.main, g.sub));
        const bool override = g.sub == 0 && !selected && mainsWithChosenSub.contains(g.main);
        records << QString::number(g.main) + u'|' + QString::number(g.sub) + u'|' + g.text + u'|'
                       + (selected ? u"1"_s : u"0"_s) + u'|' + (override ? u"1"_s : u"0"_s);
    }
    return ctx.newList(records);
}

ClassDecl wargrClass()
{
    ClassDecl c;
    c.name = u"orvanta.wargr"_s;
    c.table = tables::wargr;
    c.properties = {plain(u"Firma"_s), plain(u"numwarengruppe"_s), shown(u"txtwarengruppe"_s),
                    plain(u"numkunde"_s)};
    c.indexes = {u"Firma,numkunde"_s};
    c.beforeSave = [](CallContext &ctx, QVariantMap &p, bool) {
        const QString firma = text(p.value(u"Firma"_s)).trimmed();
        const QString group = text(p.value(u"numwarengruppe"_s)).trimmed();
        bool known = false;
        QSqlQuery q = exec(ctx.db(), u"SELECT \"HGRP\", \"UGRP\" FROM "_s + tables::warengruppe
                                         + u" WHERE \"Firma\"=?"_s,
                           {firma});
        while (!known && q.next())
            known = productGroupNumber(q.value(0).toLongLong(), q.value(1).toLongLong()) == group;
        if (!known)
            refuse(u"orvanta.wargr: Warengruppe '"_s + group + u"' gibt es bei Firma '"_s + firma + u"' nicht"_s);

        const QString kunde = canonicalCustomer(text(p.value(u"numkunde"_s)));
        if (!kunde.isEmpty()
            && !scalar(ctx.db(), u"SELECT 1 FROM "_s + tables::kkr
                                     + u" WHERE \"Firma\"=? AND \"Art\"='K' AND \"Nr\"=?"_s,
                       {firma, parseNumber(kunde).value_or(-1)})
                    .isValid())
            refuse(u"orvanta.wargr: Kunde '"_s + kunde + u"' ist kein Kunde der Firma '"_s + firma + u"'"_s);
        p.insert(u"Firma"_s, firma);
        p.insert(u"numwarengruppe"_s, group);
        p.insert(u"numkunde"_s, kunde);
        // The client sends the description as it shows it; keep it like all other text.
        p.insert(u"txtwarengruppe"_s, toServerForm(text(p.value(u"txtwarengruppe"_s))));
    };
    c.methods.insert(u"getwargr"_s, getwargr);
    c.methods.insert(u"delete"_s, [](CallContext &ctx, const QVariantList &args) -> QVariant {
        expectArgs(args, 1, 2, u"orvanta.wargr Delete"_s);
        QSqlQuery q = exec(ctx.db(), u"DELETE FROM "_s + tables::wargr + u" WHERE \"Firma\"=? AND \"numkunde\"=?"_s,
                           {arg(args, 0).trimmed(), canonicalCustomer(arg(args, 1))});
        return q.numRowsAffected();
    });
    return c;
}

} // namespace

void registerProductGroups(ClassRegistry &registry)
{
    registry.add(warengruppeClass());
    registry.add(wargrClass());
}

} // namespace server::classes
