#include "server/sqlitememory.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace server::store {

namespace {

// A block is the C library's, with its size in the eight bytes before the address SQLite
// gets, as SQLite's own allocator keeps it; SQLite needs no more than eight-byte alignment.
constexpr int Header = 8;
constexpr int Step = 16;
constexpr int Classes = 16; // sizes 16, 32, ... 256: SQLite's cells, records and values
constexpr int Largest = Step * Classes;
constexpr int Kept = 32; // blocks a thread keeps of each size: 72 KiB at most

struct FreeLists
{
    void *head[Classes];
    int count[Classes];
    bool flushed; // the thread is ending: its blocks go straight back
    bool watched;
};
// Trivially destructible, so a free that comes late in a thread's exit still finds it.
thread_local FreeLists lists;

struct Flusher
{
    ~Flusher()
    {
        for (int c = 0; c < Classes; ++c) {
            for (void *b = lists.head[c]; b;) {
                void *next = *static_cast<void **>(b);
                std::free(static_cast<char *>(b) - Header);
                b = next;
            }
            lists.head[c] = nullptr;
            lists.count[c] = 0;
        }
        lists.flushed = true;
    }
    void watch() {} // the first use in a thread has its destructor run at the thread's end
};
thread_local Flusher flusher;

int roundUp(int n)
{
    if (n <= Largest)
        return n <= Step ? Step : (n + Step - 1) & ~(Step - 1);
    return (n + 7) & ~7;
}

int &sizeOf(void *p) { return *reinterpret_cast<int *>(static_cast<char *>(p) - Header); }

void *fresh(int size)
{
    auto *base = static_cast<char *>(std::malloc(size_t(size) + Header));
    if (!base)
        return nullptr;
    *reinterpret_cast<int *>(base) = size;
    return base + Header;
}

void *allocate(int n)
{
    if (n <= 0)
        return nullptr;
    const int size = roundUp(n);
    if (size <= Largest) {
        const int c = size / Step - 1;
        if (void *b = lists.head[c]) {
            lists.head[c] = *static_cast<void **>(b);
            --lists.count[c];
            return b;
        }
    }
    return fresh(size);
}

void release(void *p)
{
    if (!p)
        return;
    const int size = sizeOf(p);
    if (size <= Largest && !lists.flushed) {
        const int c = size / Step - 1;
        if (lists.count[c] < Kept) {
            if (!lists.watched) { // the thread's first kept block: flush them at its end
                lists.watched = true;
                flusher.watch();
            }
            *static_cast<void **>(p) = lists.head[c];
            lists.head[c] = p;
            ++lists.count[c];
            return;
        }
    }
    std::free(static_cast<char *>(p) - Header);
}

int sizeOfBlock(void *p) { return p ? sizeOf(p) : 0; }

void *resize(void *p, int n)
{
    if (!p)
        return allocate(n);
    if (n <= 0) // SQLite never asks; its interface says not to free then
        return nullptr;
    const int old = sizeOf(p);
    const int size = roundUp(n);
    if (size == old)
        return p;
    if (old > Largest && size > Largest) {
        char *base = static_cast<char *>(p) - Header;
        base = static_cast<char *>(std::realloc(base, size_t(size) + Header));
        if (!base)
            return nullptr;
        *reinterpret_cast<int *>(base) = size;
        return base + Header;
    }
    void *q = allocate(n);
    if (!q)
        return nullptr;
    std::memcpy(q, p, size_t(old < size ? old : size));
    release(p);
    return q;
}

int init(void *) { return SQLITE_OK; }
void shutdown(void *) {}

} // namespace

bool useSqliteMemory()
{
    static const sqlite3_mem_methods methods = {allocate, release, resize,   sizeOfBlock,
                                                roundUp,  init,    shutdown, nullptr};
    return sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) == SQLITE_OK;
}

} // namespace server::store
