#pragma once
// A SQLite file system layer over the system's own that keeps a connection's lock on a WAL
// read slot after its read transaction ends, for its next read to take again without a
// system call. Every read transaction of the server's jobs otherwise takes and drops a file
// lock (two fcntl), and all the server's connections to a database queue for the mutex
// around it.
//
// A kept lock is what a reader still reading would hold: other programs see one more reader,
// never a changed answer, since each read still starts from the newest commit. It is given
// up when a connection of this process needs the slot exclusively (a checkpoint, a restart
// of the WAL, a new read mark), when its connection reads from another slot or closes, and
// after a few milliseconds in which its connection read nothing, so that the sqlite3 tool or
// a second server can checkpoint while this one rests.

namespace server::store {

// Registers the layer once; the name for a database URI's "vfs=".
const char *readLocksVfs();

} // namespace server::store
