#include "server/classdecl.h"

#include "server/classes/registration.h"
#include "server/classes/seed.h"
#include "server/classes/textform.h"

namespace server {

namespace classes {

PropertyDecl plain(const QString &name) { return PropertyDecl{name}; }

PropertyDecl shown(const QString &name)
{
    PropertyDecl p{name, [](const QVariant &raw) { return toDisplayForm(raw.toString()); }};
    p.sameOnDisplay = sameInDisplayForm;
    return p;
}

QList<PropertyDecl> plainProperties(const QStringList &names)
{
    QList<PropertyDecl> out;
    for (const QString &n : names)
        out << plain(n);
    return out;
}

} // namespace classes

// Every class, routine and resolver of the merchandise system and the web interface.
void registerApplicationClasses(ClassRegistry &registry)
{
    classes::registerTenants(registry);
    classes::registerPersonnel(registry);
    classes::registerLocations(registry);
    classes::registerServerEntries(registry);
    classes::registerPartners(registry);
    classes::registerProductGroups(registry);
    classes::registerArticles(registry);
    classes::registerWebLists(registry);
    classes::registerJobs(registry);
}

void seedDemo(QSqlDatabase db, const QString &ns, int scale)
{
    classes::seedDemoBusiness(db, ns, scale);
}

} // namespace server
