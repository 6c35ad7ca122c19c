#include "signin/locationlist.h"

#include "session/cacheapi.h"

using namespace Qt::StringLiterals;

namespace signin {

QList<Location> parseLocations(const QString &list)
{
    const QChar separator(u'`');
    const int count = cacheapi::PieceCount(list, separator);
    if (count > 255)
        throw factory::Error(6, u"Überlauf: mehr als 255 Standorte ("_s + QString::number(count) + u")"_s);
    QList<Location> result;
    for (int i = 1; i <= count; ++i) {
        const QString entry = cacheapi::Piece(list, QString(separator), i);
        if (entry.isEmpty())
            break;
        result.append({entry, cacheapi::Piece(entry, u" "_s, 1)});
    }
    return result;
}

} // namespace signin
