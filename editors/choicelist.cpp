#include "editors/choicelist.h"

#include "factory/factory.h"
#include "session/cacheapi.h"

using namespace Qt::StringLiterals;

namespace editors::choice {

bool isNoList(const QVariant &handle) { return factory::toNumber(handle) == 0; }

QStringList readServerList(const QVariant &handle)
{
    if (!cacheapi::Factory)
        throw factory::Error(factory::ErrorCode::NotConnected, u"Keine Verbindung zum Server"_s);
    const factory::ResultSetPtr rows = cacheapi::Factory->ResultSet(u"VR.XW"_s, u"Liste"_s);
    rows->Execute({handle});
    QStringList records;
    while (rows->Next())
        records << factory::toText(rows->GetData(1));
    rows->Close();
    return records;
}

} // namespace editors::choice
