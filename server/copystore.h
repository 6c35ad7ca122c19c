#pragma once
// varelo-server --copy-store FROM TO: a namespace moves between a SQLite data folder and a
// PostgreSQL database, either way, with everything it holds.

#include "server/store.h"

namespace server::store {

// Copies every table of the namespace, and its batch run records, into a store that does not
// hold the namespace yet, in one transaction (a failed copy leaves nothing behind). The
// passwords go with it: the target's --data must keep the same password key. Answers the
// rows copied; throws factory::Error.
qint64 copyNamespace(const Namespace &from, const Namespace &to, const ClassRegistry &registry);

} // namespace server::store
