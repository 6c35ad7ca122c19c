#pragma once
// The location list as the server sends it: entries joined by "`", each a location code,
// a blank and the location's name.

#include <QList>
#include <QString>

namespace signin {

struct Location
{
    QString text; // the whole entry, as the combo shows it
    QString code; // the part before the first blank
};

// Entries up to the first empty one. Over 255 entries, the most the sign-in dialog takes,
// throw factory::Error 6 (overflow).
QList<Location> parseLocations(const QString &list);

} // namespace signin
