#include "server/classdecl.h"

namespace server {

// Every class, routine and resolver of the merchandise system and the web interface.
void registerApplicationClasses(ClassRegistry &registry)
{
    Q_UNUSED(registry);
}

void seedDemo(QSqlDatabase db, const QString &ns, int scale)
{
    Q_UNUSED(db);
    Q_UNUSED(ns);
    Q_UNUSED(scale);
}

} // namespace server
