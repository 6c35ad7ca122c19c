#pragma once
// The server list read: a class method hands out a list handle, VR.XW "Liste" yields
// one "|"-separated record per row.

#include <QStringList>
#include <QVariant>

namespace editors::choice {

// 0 (or nothing) means the class method had no list to give.
bool isNoList(const QVariant &handle);

// Column 1 of every row of the list; needs a standing connection (inside server work).
// Throws factory::Error.
QStringList readServerList(const QVariant &handle);

} // namespace editors::choice
