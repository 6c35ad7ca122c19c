#pragma once
// The batch run records of a store, in a file of their own beside the namespaces
// (<data>/batch-runs.sqlite) or a schema of their own in PostgreSQL. A run holds its namespace's write lock for as long as it works;
// a record kept there could not be written meanwhile, and progress written inside the run's
// transaction would be seen only once the run is over. Servers sharing a data folder (one of
// them serving the gateway namespace) share the records too.

#include "server/store.h"

#include <QList>
#include <QString>
#include <QVariantList>

namespace server::runlog {

// The states a record passes through.
inline const QString Waiting = QStringLiteral("wartet");
inline const QString Running = QStringLiteral("läuft");
inline const QString Done = QStringLiteral("fertig");
inline const QString Failed = QStringLiteral("Fehler");

// Servers on one PostgreSQL database: which of them are still there. announce() once at the
// start, on the main thread, before prepare(); SQLite needs none of it.
namespace presence {
void announce(const store::Store &store); // throws factory::Error
qint64 self();                            // this server's number, 0 on SQLite
bool alive(qint64 server);                // main thread only
} // namespace presence

// Creates the records, takes over those the namespace kept itself in older versions, and
// records the runs the namespace's last server left waiting or running as cut off (on
// PostgreSQL: those of servers that are gone).
// mainDb: a connection to the namespace outside any transaction. Throws factory::Error.
void prepare(const store::Store &store, QSqlDatabase mainDb, const store::Namespace &ns);

struct NewRun
{
    QString ns, job, tenant, args, startedBy;
};
// Records a run as waiting; answers its id. Throws factory::Error.
qint64 add(const store::Store &store, const NewRun &run);
// Each of these is a courtesy to the reader: a failure is logged, the run goes on.
void setRunning(const store::Store &store, qint64 id);
void setProgress(const store::Store &store, qint64 id, const QString &text);
void finish(const store::Store &store, qint64 id, bool ok, const QString &outcome, const QString &outputFile);

// Keeps a run of another store as it was (a row as list() answers it) for namespace ns.
void copy(const store::Store &store, const QString &ns, const QVariantList &run);

// Rows of Varelo.Batch "Runs", newest first: id, job, tenant, args, started, ended, outcome,
// state, started by, output file, namespace. Without tenant: the runs of ns; with one: the
// runs of that tenant and those of no tenant, in every namespace of the store.
// limit <= 0: all. Throws factory::Error.
QList<QVariantList> list(const store::Store &store, const QString &ns, const QString &tenant, int limit);

} // namespace server::runlog
