#pragma once
// SQLite's allocator for the server: small blocks kept on a free list per thread.
//
// A read copies every text cell it reads into a block of its own and frees them all when
// the statement ends: a dozen blocks a call of the same few sizes, which overflows the C
// library's per-thread cache and sends every other free through its shared bins. Here a
// thread keeps up to a few dozen blocks of each small size for its next statement.

namespace server::store {

// Installs the allocator; only possible before SQLite's first use. False where SQLite
// started already, which then keeps the C library's allocator, as safe.
bool useSqliteMemory();

} // namespace server::store
