#include "factory/signin.h"

using namespace Qt::StringLiterals;

namespace factory {

QString checkPassword(Factory &factory, const QString &password, const QString &tenant, const QString &code)
{
    const ResultSetPtr rs = factory.ResultSet(u"VR.ParPersEdv"_s, u"UserViaPasswort"_s);
    rs->Execute({password, tenant, code});
    const QString found = rs->Next() ? toText(rs->GetData(1)) : QString();
    rs->Close();
    return found;
}

} // namespace factory
