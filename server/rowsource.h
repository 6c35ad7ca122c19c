#pragma once
// Row sources that stream from SQLite hold a read snapshot on their connection while the
// client reads batch by batch. A connection with such a statement open sees the database
// as it was and cannot write once another job has committed; so a job runs its queries on
// connections of their own and reads the rest of a source into memory only when the
// connection it holds is needed for something else.

#include <QString>

class QSqlDriver;

namespace server {

// What a text held in memory costs, about: its characters and the string's own overhead.
inline qint64 textBytes(const QString &text) { return text.size() * qint64(sizeof(QChar)) + 32; }

// Buffers every SQL row source open on the connection of `driver` (this thread's) and
// ends its statement.
void detachSqlRowSources(const QSqlDriver *driver);
// True while a row source streams from the connection of `driver`.
bool sqlRowSourcesLive(const QSqlDriver *driver);

} // namespace server
