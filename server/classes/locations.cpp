// Locations of a tenant and the workstations standing at them, read by the sign-in dialog.

#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {

const QChar entrySeparator = u'`';

ClassDecl standortClass()
{
    ClassDecl c;
    c.name = u"VR.Standort"_s;
    c.table = tables::standort;
    c.properties = {plain(u"Firma"_s), plain(u"Code"_s), shown(u"Name"_s)};
    c.idProperties = {u"Firma"_s, u"Code"_s};
    // The list answer separates entries by "`" and code from name by the first blank.
    c.beforeSave = [](CallContext &, QVariantMap &p, bool) {
        const QString code = text(p.value(u"Code"_s));
        if (code.isEmpty() || code.contains(u' ') || code.contains(entrySeparator))
            refuse(u"VR.Standort: Code '"_s + code + u"' ist leer oder enthält Leerzeichen oder \"`\""_s);
        if (text(p.value(u"Name"_s)).contains(entrySeparator))
            refuse(u"VR.Standort: Name darf kein \"`\" enthalten"_s);
    };
    return c;
}

ClassDecl arbeitsplatzClass()
{
    ClassDecl c;
    c.name = u"VR.Arbeitsplatz"_s;
    c.table = tables::arbeitsplatz;
    // Name: the workstation's computer name in lower case, as the client sends it.
    c.properties = {plain(u"Name"_s), plain(u"Firma"_s), plain(u"Standort"_s)};
    c.idProperties = {u"Name"_s};
    c.beforeSave = [](CallContext &, QVariantMap &p, bool) {
        p.insert(u"Name"_s, text(p.value(u"Name"_s)).toLower());
    };
    return c;
}

ClassDecl menueClass()
{
    ClassDecl c;
    c.name = u"RUZAVAVIR.Menue"_s;
    c.methods.insert(u"getstandorte"_s, [](CallContext &ctx, const QVariantList &args) -> QVariant {
        expectArgs(args, 1, 1, u"RUZAVAVIR.Menue getStandorte"_s);
        QSqlQuery q = exec(ctx.db(), u"SELECT \"Code\", \"Name\" FROM "_s + tables::standort
                                         + u" WHERE \"Firma\"=? ORDER BY length(\"Code\"), \"Code\""_s,
                           {arg(args, 0).trimmed()});
        QStringList entries;
        while (q.next())
            entries << q.value(0).toString() + u' ' + toDisplayForm(q.value(1).toString());
        return entries.join(entrySeparator);
    });
    c.methods.insert(u"getdevicestandort"_s, [](CallContext &ctx, const QVariantList &args) -> QVariant {
        expectArgs(args, 1, 1, u"RUZAVAVIR.Menue getDeviceStandort"_s);
        const QVariant code = scalar(ctx.db(), u"SELECT \"Standort\" FROM "_s + tables::arbeitsplatz
                                                   + u" WHERE \"Name\"=?"_s,
                                     {arg(args, 0).trimmed().toLower()});
        return code.isValid() ? code.toString() : QString();
    });
    return c;
}

} // namespace

void registerLocations(ClassRegistry &registry)
{
    registry.add(standortClass());
    registry.add(arbeitsplatzClass());
    registry.add(menueClass());
}

} // namespace server::classes
