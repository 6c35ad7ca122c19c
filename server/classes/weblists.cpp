// The web interface's classes named after a tenant's database prefix: prefix + "kunde" (the
// customers taking part), prefix + "liefneg" (the supplier negative list) and prefix +
// "artikel" (the article jobs). They exist for every prefix some tenant's orvanta.param names.

#include "server/classes/jobs.h"
#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

#include <set>

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

struct ListKind
{
    QString suffix;     // class name after the prefix
    QString storeClass; // where the list is kept
    QString table;
    QString art;        // VR.KKR kind of the numbers
    QString noun;       // for refusals
    QString getList;    // method names
    QString getName;
};

const ListKind customerList{u"kunde"_s, u"orvanta.webkunde"_s, tables::webKunde, u"K"_s,
                            u"Kunde"_s, u"getkund"_s,          u"getkname"_s};
const ListKind negativeList{u"liefneg"_s, u"orvanta.webliefneg"_s, tables::webLiefNeg, u"L"_s,
                            u"Lieferant"_s, u"getlief"_s,        u"getlname"_s};

bool isPartner(QSqlDatabase db, const ListKind &kind, const QString &firma, qint64 nr)
{
    return scalar(db, u"SELECT 1 FROM "_s + tables::kkr + u" WHERE \"Firma\"=? AND \"Art\"=? AND \"Nr\"=?"_s,
                  {firma, kind.art, nr})
        .isValid();
}

ClassDecl storeClass(const ListKind &kind)
{
    ClassDecl c;
    c.name = kind.storeClass;
    c.table = kind.table;
    c.properties = plainProperties({u"Firma"_s, u"praefix"_s, u"Nr"_s});
    c.idProperties = {u"Firma"_s, u"praefix"_s, u"Nr"_s};
    c.beforeSave = [kind](CallContext &ctx, QVariantMap &p, bool) {
        const QString firma = text(p.value(u"Firma"_s)).trimmed();
        const auto nr = parseNumber(text(p.value(u"Nr"_s)));
        if (!nr || !isPartner(ctx.db(), kind, firma, *nr))
            refuse(kind.storeClass + u": "_s + kind.noun + u" '"_s + text(p.value(u"Nr"_s))
                   + u"' gibt es bei Firma '"_s + firma + u"' nicht"_s);
        p.insert(u"Nr"_s, *nr);
    };
    return c;
}

// getkund/getlief(tenant, prefix): nr|name, name in display form, by number. Always a real
// handle (the client reads it without testing for 0), empty when nothing is listed.
QVariant getList(CallContext &ctx, const ListKind &kind, const QString &prefix, const QVariantList &args)
{
    expectArgs(args, 1, 2, prefix + kind.suffix + u' ' + kind.getList);
    QSqlQuery q = exec(ctx.db(),
                       u"SELECT w.\"Nr\", k.\"Name\" FROM "_s + kind.table + u" w LEFT JOIN "_s + tables::kkr
                           + u" k ON k.\"Firma\"=w.\"Firma\" AND k.\"Art\"=? AND k.\"Nr\"=w.\"Nr\""_s
                           + u" WHERE w.\"Firma\"=? AND w.\"praefix\"=? ORDER BY "_s
                           + server::sql::numberOrder(ctx.db(), u"w.\"Nr\""_s),
                       {kind.art, arg(args, 0).trimmed(), prefix});
    QStringList records;
    while (q.next())
        records << QString::number(q.value(0).toLongLong()) + u'|' + toDisplayForm(q.value(1).toString());
    return ctx.newList(records);
}

// getkname/getlname(tenant, number as typed): the name in display form, "" when unknown.
QVariant getName(CallContext &ctx, const ListKind &kind, const QString &prefix, const QVariantList &args)
{
    expectArgs(args, 2, 2, prefix + kind.suffix + u' ' + kind.getName);
    const auto nr = parseNumber(arg(args, 1));
    if (!nr)
        return QString();
    const QVariant name = scalar(ctx.db(), u"SELECT \"Name\" FROM "_s + tables::kkr
                                               + u" WHERE \"Firma\"=? AND \"Art\"=? AND \"Nr\"=?"_s,
                                 {arg(args, 0).trimmed(), kind.art, *nr});
    return name.isValid() ? toDisplayForm(name.toString()) : QString();
}

// Save(tenant, "nr|nr|...", prefix): the stored list becomes exactly these numbers; one that is
// not the tenant's is refused before anything changes. The call runs in one transaction.
QVariant saveList(CallContext &ctx, const ListKind &kind, const QString &prefix, const QVariantList &args)
{
    expectArgs(args, 2, 3, prefix + kind.suffix + u" Save"_s);
    const QString firma = arg(args, 0).trimmed();
    if (!tenantExists(ctx.db(), firma))
        refuse(prefix + kind.suffix + u" Save: Firma '"_s + firma + u"' ist kein Mandant"_s);
    std::set<qint64> numbers;
    for (const QString &piece : arg(args, 1).split(u'|')) {
        if (piece.trimmed().isEmpty())
            continue;
        const auto nr = parseNumber(piece);
        if (!nr || !isPartner(ctx.db(), kind, firma, *nr))
            refuse(prefix + kind.suffix + u" Save: "_s + kind.noun + u" '"_s + piece.trimmed()
                   + u"' gibt es bei Firma '"_s + firma + u"' nicht; nichts gespeichert"_s);
        numbers.insert(*nr);
    }
    exec(ctx.db(), u"DELETE FROM "_s + kind.table + u" WHERE \"Firma\"=? AND \"praefix\"=?"_s, {firma, prefix});
    const QString insert = u"INSERT INTO "_s + kind.table + u" (id, \"Firma\", \"praefix\", \"Nr\") VALUES (?, ?, ?, ?)"_s;
    for (qint64 nr : numbers)
        execRepeated(ctx.db(), insert, {joinId({firma, prefix, QString::number(nr)}), firma, prefix, nr});
    return qint64(numbers.size());
}

// The stored prefix spelled like the argument, case aside; invalid when no tenant names it.
QVariant namedPrefix(CallContext &ctx, const QString &prefix)
{
    return scalar(ctx.db(), u"SELECT \"dbpraefix\" FROM "_s + tables::param + u" WHERE lower(\"dbpraefix\")=? LIMIT 1"_s,
                  {prefix.toLower()});
}

// A resolved class outlives a change of the parameters and is shared by all namespaces:
// each call checks that its prefix is still named here.
ClassMethod checked(const QString &className, const QString &prefix, ClassMethod method)
{
    return [className, prefix, method](CallContext &ctx, const QVariantList &args) {
        if (!namedPrefix(ctx, prefix).isValid())
            throw factory::Error(factory::ErrorCode::UnknownClass, u"Klasse '"_s + className + u"' existiert nicht"_s);
        return method(ctx, args);
    };
}

ClassDecl listClass(const ListKind &kind, const QString &prefix)
{
    ClassDecl c;
    c.name = prefix + kind.suffix;
    // The prefix argument of getkund/Save names the class's own prefix; the list belongs to the class.
    c.methods.insert(kind.getList, checked(c.name, prefix, [kind, prefix](CallContext &ctx, const QVariantList &args) {
        return getList(ctx, kind, prefix, args);
    }));
    c.methods.insert(kind.getName, checked(c.name, prefix, [kind, prefix](CallContext &ctx, const QVariantList &args) {
        return getName(ctx, kind, prefix, args);
    }));
    c.methods.insert(u"save"_s, checked(c.name, prefix, [kind, prefix](CallContext &ctx, const QVariantList &args) {
        return saveList(ctx, kind, prefix, args);
    }));
    return c;
}

ClassDecl articleClass(const QString &prefix)
{
    ClassDecl c;
    c.name = prefix + u"artikel"_s;
    c.methods.insert(u"genartikel"_s, checked(c.name, prefix, [prefix](CallContext &ctx, const QVariantList &args) {
        return jobs::startGenArtikel(ctx, prefix, args);
    }));
    c.methods.insert(u"freischalten"_s, checked(c.name, prefix, [prefix](CallContext &ctx, const QVariantList &args) {
        return jobs::startFreischalten(ctx, prefix, args);
    }));
    return c;
}

std::optional<ClassDecl> resolvePrefixClass(const QString &name, CallContext &ctx)
{
    const QString lower = name.toLower();
    for (const QString &suffix : {u"kunde"_s, u"liefneg"_s, u"artikel"_s}) {
        if (!lower.endsWith(suffix) || lower.size() == suffix.size())
            continue;
        const QVariant prefix = namedPrefix(ctx, lower.chopped(suffix.size()));
        if (!prefix.isValid())
            return std::nullopt;
        if (suffix == u"kunde"_s)
            return listClass(customerList, prefix.toString());
        if (suffix == u"liefneg"_s)
            return listClass(negativeList, prefix.toString());
        return articleClass(prefix.toString());
    }
    return std::nullopt;
}

} // namespace

void registerWebLists(ClassRegistry &registry)
{
    registry.add(storeClass(customerList));
    registry.add(storeClass(negativeList));
    registry.addResolver(resolvePrefixClass);
}

} // namespace server::classes
