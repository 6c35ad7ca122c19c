#pragma once
// Row sources that stream from SQLite hold a read snapshot on their job's connection
// while the client reads batch by batch. Before the job does anything else it reads the
// rest of them into memory: otherwise the job would see stale data and could not start
// a write transaction after another job has committed.

namespace server {

// Buffers every SQL row source open on this thread's connections and ends its statement.
void detachSqlRowSources();

} // namespace server
