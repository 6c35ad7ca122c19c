#pragma once
// Batch runs: each on a thread and database connection of its own, recorded in the
// namespace's table batch_runs (Varelo.Batch query "Runs").

#include "server/classdecl.h"
#include "server/store.h"

#include <condition_variable>
#include <mutex>

namespace server {

class BatchRunner final
{
public:
    BatchRunner(QString dataDir, QString outputDir);
    Q_DISABLE_COPY_MOVE(BatchRunner)

    void launch(const store::Namespace &ns, int startedBy, const QString &job, const QString &tenant, const QVariantList &args,
                BatchWork work);
    // Waits until no run is left; false when some still run after msec.
    bool waitAll(int msec);

private:
    void run(const store::Namespace &ns, int startedBy, const QString &job, const QString &tenant, const QVariantList &args,
             const BatchWork &work, int serial);

    QString m_dataDir;
    QString m_outputDir;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_running = 0;
    int m_serial = 0;
};

} // namespace server
