#include "server/readlocks.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace server::store {

namespace {

// The locks of SQLite's WAL index: 0 the writer, 1 the checkpointer, 2 recovery, from 3 on the
// read slots, one byte each.
constexpr int FirstReadSlot = 3;
// How long a connection that read nothing keeps its lock at most (twice this at worst).
constexpr auto RestingTime = std::chrono::milliseconds(5);

struct State
{
    sqlite3_file *real = nullptr; // the system layer's file, right behind File
    std::string path;             // main databases: files of one path share a WAL index
    std::mutex mutex;             // guards the fields below and every release of the kept lock
    int kept = -1;                // the read slot whose shared lock outlived its reader
    unsigned reads = 0;           // reads ended so far: a resting connection's count stands still
    unsigned readsSeen = 0;       // as the releaser saw it last
};

// What SQLite allocates (szOsFile) for a file of this layer: its own header, our state, and
// the system layer's file behind them.
struct File
{
    sqlite3_file base;
    State *state;
};

struct Registry
{
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<State *> files; // main databases with their WAL index
    std::atomic<bool> watching{false}; // the releaser looks at kept locks
    sqlite3_vfs *system = nullptr;
    sqlite3_vfs vfs{};
    std::array<sqlite3_io_methods, 3> methods{}; // by the system file's version
};

// Never destroyed: the releaser thread runs until the process ends.
Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

State &state(sqlite3_file *f) { return *reinterpret_cast<File *>(f)->state; }
sqlite3_file *real(sqlite3_file *f) { return state(f).real; }
sqlite3_vfs *systemVfs(sqlite3_vfs *) { return registry().system; }

bool holds(int from, int n, int slot) { return slot >= from && slot < from + n; }

// With s.mutex held.
void releaseKept(State &s)
{
    if (s.kept < 0)
        return;
    s.real->pMethods->xShmLock(s.real, s.kept, 1, SQLITE_SHM_UNLOCK | SQLITE_SHM_SHARED);
    s.kept = -1;
}

// Before a connection locks slots exclusively, the connections of this process to the same
// database, itself among them, give up what they keep there; otherwise it would wait for
// readers that ended.
void releaseSlots(const State &self, int offset, int n)
{
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    for (State *s : r.files) {
        if (s->path != self.path)
            continue;
        std::lock_guard guard(s->mutex);
        if (holds(offset, n, s->kept))
            releaseKept(*s);
    }
}

// Gives up the locks of connections that read nothing for a while. Sleeps while none is kept.
[[noreturn]] void releaseResting()
{
    Registry &r = registry();
    std::unique_lock lock(r.mutex);
    for (;;) {
        r.wake.wait(lock, [&] { return r.watching.load(); });
        r.wake.wait_for(lock, RestingTime);
        // Cleared before looking: a lock kept after its file was looked at finds the flag down
        // and raises it again (watch()).
        r.watching = false;
        bool again = false;
        for (State *s : r.files) {
            std::unique_lock guard(s->mutex, std::try_to_lock);
            if (!guard.owns_lock()) {
                again = true;
                continue;
            }
            if (s->kept < 0)
                continue;
            if (s->reads != s->readsSeen) {
                s->readsSeen = s->reads;
                again = true;
                continue;
            }
            releaseKept(*s);
        }
        if (again)
            r.watching = true;
    }
}

void watch()
{
    Registry &r = registry();
    if (r.watching.load())
        return;
    {
        std::lock_guard lock(r.mutex);
        r.watching = true;
    }
    r.wake.notify_one();
}

int shmLock(sqlite3_file *f, int offset, int n, int flags)
{
    State &s = state(f);
    if (n == 1 && offset >= FirstReadSlot && (flags & SQLITE_SHM_SHARED)) {
        if (flags & SQLITE_SHM_UNLOCK) {
            {
                std::lock_guard guard(s.mutex);
                if (s.kept != offset)
                    releaseKept(s);
                s.kept = offset;
                ++s.reads;
            }
            watch();
            return SQLITE_OK;
        }
        std::lock_guard guard(s.mutex);
        if (s.kept == offset) {
            s.kept = -1;
            return SQLITE_OK;
        }
        releaseKept(s);
        return s.real->pMethods->xShmLock(s.real, offset, n, flags);
    }
    if ((flags & SQLITE_SHM_LOCK) && (flags & SQLITE_SHM_EXCLUSIVE) && offset + n > FirstReadSlot) {
        // Another connection may keep a lock again between the releases and the lock: a few
        // more tries before the caller's own busy handling.
        for (int attempt = 0;; ++attempt) {
            releaseSlots(s, offset, n);
            const int rc = s.real->pMethods->xShmLock(s.real, offset, n, flags);
            if (rc != SQLITE_BUSY || attempt == 2)
                return rc;
        }
    }
    return s.real->pMethods->xShmLock(s.real, offset, n, flags);
}

int shmUnmap(sqlite3_file *f, int deleteFlag)
{
    State &s = state(f);
    std::lock_guard guard(s.mutex);
    releaseKept(s);
    return s.real->pMethods->xShmUnmap(s.real, deleteFlag);
}

int closeFile(sqlite3_file *f)
{
    State *s = &state(f);
    if (!s->path.empty()) {
        Registry &r = registry();
        std::lock_guard lock(r.mutex);
        r.files.erase(std::remove(r.files.begin(), r.files.end(), s), r.files.end());
    }
    int rc;
    {
        std::lock_guard guard(s->mutex);
        if (s->kept >= 0 && s->real->pMethods->iVersion >= 2)
            releaseKept(*s);
        rc = s->real->pMethods->xClose(s->real);
    }
    delete s;
    reinterpret_cast<File *>(f)->state = nullptr;
    return rc;
}

sqlite3_io_methods methods(int version)
{
    sqlite3_io_methods m{};
    m.iVersion = version;
    m.xClose = closeFile;
    m.xRead = [](sqlite3_file *f, void *b, int n, sqlite3_int64 o) { return real(f)->pMethods->xRead(real(f), b, n, o); };
    m.xWrite = [](sqlite3_file *f, const void *b, int n, sqlite3_int64 o) {
        return real(f)->pMethods->xWrite(real(f), b, n, o);
    };
    m.xTruncate = [](sqlite3_file *f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); };
    m.xSync = [](sqlite3_file *f, int flags) { return real(f)->pMethods->xSync(real(f), flags); };
    m.xFileSize = [](sqlite3_file *f, sqlite3_int64 *size) { return real(f)->pMethods->xFileSize(real(f), size); };
    m.xLock = [](sqlite3_file *f, int lock) { return real(f)->pMethods->xLock(real(f), lock); };
    m.xUnlock = [](sqlite3_file *f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); };
    m.xCheckReservedLock = [](sqlite3_file *f, int *out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); };
    m.xFileControl = [](sqlite3_file *f, int op, void *arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); };
    m.xSectorSize = [](sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); };
    m.xDeviceCharacteristics = [](sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); };
    if (version >= 2) {
        m.xShmMap = [](sqlite3_file *f, int page, int size, int extend, void volatile **out) {
            return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
        };
        m.xShmLock = shmLock;
        m.xShmBarrier = [](sqlite3_file *f) { real(f)->pMethods->xShmBarrier(real(f)); };
        m.xShmUnmap = shmUnmap;
    }
    if (version >= 3) {
        m.xFetch = [](sqlite3_file *f, sqlite3_int64 o, int n, void **out) {
            return real(f)->pMethods->xFetch(real(f), o, n, out);
        };
        m.xUnfetch = [](sqlite3_file *f, sqlite3_int64 o, void *p) { return real(f)->pMethods->xUnfetch(real(f), o, p); };
    }
    return m;
}

int openFile(sqlite3_vfs *vfs, sqlite3_filename name, sqlite3_file *f, int flags, int *outFlags)
{
    Registry &r = registry();
    auto *file = reinterpret_cast<File *>(f);
    file->base.pMethods = nullptr;
    auto *s = new (std::nothrow) State;
    if (!s)
        return SQLITE_NOMEM;
    s->real = reinterpret_cast<sqlite3_file *>(reinterpret_cast<char *>(f) + sizeof(File));
    const int rc = systemVfs(vfs)->xOpen(systemVfs(vfs), name, s->real, flags, outFlags);
    // SQLite closes what has methods, even after a failure.
    if (!s->real->pMethods) {
        delete s;
        return rc;
    }
    file->state = s;
    file->base.pMethods = &r.methods[std::clamp(s->real->pMethods->iVersion, 1, 3) - 1];
    if (rc == SQLITE_OK && (flags & SQLITE_OPEN_MAIN_DB) && name) {
        s->path = name;
        std::lock_guard lock(r.mutex);
        r.files.push_back(s);
    }
    return rc;
}

} // namespace

const char *readLocksVfs()
{
    static const char *const name = [] {
        Registry &r = registry();
        for (int v = 1; v <= 3; ++v)
            r.methods[v - 1] = methods(v);
        r.system = sqlite3_vfs_find(nullptr);
        sqlite3_vfs &vfs = r.vfs;
        vfs.iVersion = std::min(r.system->iVersion, 3);
        vfs.szOsFile = int(sizeof(File)) + r.system->szOsFile;
        vfs.mxPathname = r.system->mxPathname;
        vfs.zName = "varelo-reads";
        vfs.xOpen = openFile;
        vfs.xDelete = [](sqlite3_vfs *v, const char *n, int sync) { return systemVfs(v)->xDelete(systemVfs(v), n, sync); };
        vfs.xAccess = [](sqlite3_vfs *v, const char *n, int what, int *out) {
            return systemVfs(v)->xAccess(systemVfs(v), n, what, out);
        };
        vfs.xFullPathname = [](sqlite3_vfs *v, const char *n, int size, char *out) {
            return systemVfs(v)->xFullPathname(systemVfs(v), n, size, out);
        };
        vfs.xDlOpen = [](sqlite3_vfs *v, const char *n) { return systemVfs(v)->xDlOpen(systemVfs(v), n); };
        vfs.xDlError = [](sqlite3_vfs *v, int size, char *out) { systemVfs(v)->xDlError(systemVfs(v), size, out); };
        vfs.xDlSym = [](sqlite3_vfs *v, void *h, const char *s) { return systemVfs(v)->xDlSym(systemVfs(v), h, s); };
        vfs.xDlClose = [](sqlite3_vfs *v, void *h) { systemVfs(v)->xDlClose(systemVfs(v), h); };
        vfs.xRandomness = [](sqlite3_vfs *v, int size, char *out) { return systemVfs(v)->xRandomness(systemVfs(v), size, out); };
        vfs.xSleep = [](sqlite3_vfs *v, int us) { return systemVfs(v)->xSleep(systemVfs(v), us); };
        vfs.xCurrentTime = [](sqlite3_vfs *v, double *out) { return systemVfs(v)->xCurrentTime(systemVfs(v), out); };
        vfs.xGetLastError = [](sqlite3_vfs *v, int size, char *out) {
            return systemVfs(v)->xGetLastError(systemVfs(v), size, out);
        };
        if (vfs.iVersion >= 2)
            vfs.xCurrentTimeInt64 = [](sqlite3_vfs *v, sqlite3_int64 *out) {
                return systemVfs(v)->xCurrentTimeInt64(systemVfs(v), out);
            };
        if (vfs.iVersion >= 3) {
            vfs.xSetSystemCall = [](sqlite3_vfs *v, const char *n, sqlite3_syscall_ptr p) {
                return systemVfs(v)->xSetSystemCall(systemVfs(v), n, p);
            };
            vfs.xGetSystemCall = [](sqlite3_vfs *v, const char *n) { return systemVfs(v)->xGetSystemCall(systemVfs(v), n); };
            vfs.xNextSystemCall = [](sqlite3_vfs *v, const char *n) { return systemVfs(v)->xNextSystemCall(systemVfs(v), n); };
        }
        sqlite3_vfs_register(&vfs, 0);
        std::thread(releaseResting).detach();
        return vfs.zName;
    }();
    return name;
}

} // namespace server::store
