#pragma once
// Batch runs: on a bounded pool of worker threads, each run on a database connection of its
// own; the runs beyond the pool wait in order of their start. Recorded in the run log
// (server/runlog.h, Varelo.Batch query "Runs").

#include "server/classdecl.h"
#include "server/store.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace server {

struct BatchRequest
{
    QString job;
    QString tenant;
    QString startedBy; // personnel code of the starting job's user, "" when unknown
    QVariantList args;
    BatchWork work;
};

class BatchRunner final
{
public:
    static constexpr int DefaultWorkers = 4;

    BatchRunner(store::Store store, QString dataDir, QString outputDir, int workers = DefaultWorkers);
    ~BatchRunner(); // drops what still waits, joins the idle workers
    Q_DISABLE_COPY_MOVE(BatchRunner)

    // Records the run as waiting and queues it; jobNumber only names the starter in the log.
    void launch(const store::Namespace &ns, int jobNumber, BatchRequest request);
    // The server is going down: runs not yet begun are recorded as cut off and dropped.
    void dropWaiting();
    // Waits until no run is left; false when some still run after msec.
    bool waitAll(int msec);

private:
    struct Queued
    {
        store::Namespace ns;
        BatchRequest request;
        qint64 runId = 0;
        int serial = 0;
    };
    void work();
    void run(Queued &item);

    store::Store m_store;
    QString m_dataDir;
    QString m_outputDir;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Queued> m_queue;
    int m_busy = 0; // queued and running
    int m_serial = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace server
