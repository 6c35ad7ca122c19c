#pragma once
// What every job shares: fixed once the server listens.

#include "server/batch.h"
#include "server/classdecl.h"
#include "server/store.h"

#include <QSslConfiguration>

#include <atomic>
#include <optional>

namespace server {

struct ServerContext
{
    ClassRegistry registry;
    store::Store store; // --store, or the --data folder
    QList<store::Namespace> namespaces;
    QString dataDir;
    QString outputDir;
    std::unique_ptr<BatchRunner> batches;
    std::atomic<int> nextJob{1};
    std::atomic<int> nextHandle{1}; // server-wide, so a handle of another job is never valid here
    int lineTimeMsec = 3000;            // longest run of one M line (--line-time)
    int transactionIdleMsec = 60000;    // a job transaction idle longer is rolled back (--transaction-idle)
    qint64 jobMemoryBytes = 256ll << 20; // open result sets and lists of one job (--job-memory)

    // Limits for a connection that has not said hello yet, and for all connections.
    static constexpr qsizetype MaxBytesBeforeHello = 64 * 1024;
    int helloTimeoutMsec = 10000;
    int maxConnections = 256;
    std::optional<QSslConfiguration> tls; // set: the server serves TLS only

    const store::Namespace *findNamespace(const QString &name) const
    {
        for (const store::Namespace &ns : namespaces)
            if (ns.name.compare(name, Qt::CaseInsensitive) == 0)
                return &ns;
        return nullptr;
    }
};

} // namespace server
