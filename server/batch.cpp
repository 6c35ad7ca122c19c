#include "server/batch.h"

#include "server/log.h"
#include "server/runlog.h"
#include "server/values.h"

#include <QDir>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace server {

namespace {
QString argsText(const QVariantList &args)
{
    QStringList parts;
    for (const QVariant &a : args)
        parts.append(values::text(a));
    return parts.join(u'|');
}
} // namespace

void BatchContext::progress(const QString &text) { runlog::setProgress(*store, runId, text); }

BatchRunner::BatchRunner(store::Store store, QString dataDir, QString outputDir, int workers)
    : m_store(std::move(store)), m_dataDir(std::move(dataDir)), m_outputDir(std::move(outputDir))
{
    for (int i = 0; i < std::max(1, workers); ++i)
        m_workers.emplace_back([this] { work(); });
}

BatchRunner::~BatchRunner()
{
    dropWaiting();
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_workers)
        t.join();
}

void BatchRunner::launch(const store::Namespace &ns, int jobNumber, BatchRequest request)
{
    Queued item{ns, std::move(request)};
    try {
        item.runId = runlog::add(m_store, {ns.name, item.request.job, item.request.tenant,
                                             argsText(item.request.args), item.request.startedBy});
    } catch (const factory::Error &e) {
        // The call that asked for the run has been answered: run it all the same.
        log::line(u"batch (%1): %2 not recorded: %3"_s.arg(ns.name, item.request.job, e.description()));
    }
    log::line(u"batch %1 (%2): %3 queued for job %4"_s.arg(item.runId).arg(ns.name, item.request.job).arg(jobNumber));
    {
        std::lock_guard lock(m_mutex);
        item.serial = ++m_serial;
        ++m_busy;
        m_queue.push_back(std::move(item));
    }
    m_wake.notify_one();
}

void BatchRunner::dropWaiting()
{
    std::deque<Queued> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_queue);
        m_busy -= int(dropped.size());
        if (m_busy == 0)
            m_idle.notify_all();
    }
    for (const Queued &item : dropped)
        runlog::finish(m_store, item.runId, false, u"Fehler: abgebrochen (Server beendet)"_s, QString());
}

bool BatchRunner::waitAll(int msec)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(msec), [this] { return m_busy == 0; });
}

void BatchRunner::work()
{
    for (;;) {
        Queued item;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        run(item);
        item = {}; // the work's captures (a release marker) go with the run
        std::lock_guard lock(m_mutex);
        if (--m_busy == 0)
            m_idle.notify_all();
    }
}

void BatchRunner::run(Queued &item)
{
    const QString connection = u"batch-"_s + QString::number(item.serial);
    const QString &job = item.request.job;
    const QString &ns = item.ns.name;
    try {
        BatchContext ctx;
        ctx.db = store::open(item.ns, connection);
        ctx.ns = ns;
        ctx.job = job;
        ctx.store = &m_store;
        ctx.dataDir = m_dataDir;
        ctx.outputDir = m_outputDir;
        ctx.tenant = item.request.tenant;
        ctx.args = item.request.args;
        ctx.runId = item.runId;
        runlog::setRunning(m_store, item.runId);
        log::line(u"batch %1 (%2): %3 started"_s.arg(item.runId).arg(ns, job));
        QDir().mkpath(m_outputDir);
        QString outcome;
        bool ok = false;
        try {
            const QString answer = item.request.work(ctx);
            outcome = answer.isEmpty() ? u"ok"_s : u"ok: "_s + answer;
            ok = true;
        } catch (const factory::Error &e) {
            outcome = u"Fehler: "_s + e.description();
        } catch (const std::exception &e) {
            outcome = u"Fehler: "_s + QString::fromUtf8(e.what());
        } catch (...) {
            outcome = u"Fehler: unbekannter Fehler"_s;
        }
        // Whatever the work left open is not to be kept.
        QSqlQuery(ctx.db).exec(u"ROLLBACK"_s);
        runlog::finish(m_store, item.runId, ok, outcome, ctx.outputFile);
        log::line(u"batch %1 (%2): %3 ended, %4"_s.arg(item.runId).arg(ns, job, outcome));
    } catch (const factory::Error &e) {
        runlog::finish(m_store, item.runId, false, u"Fehler: "_s + e.description(), QString());
        log::line(u"batch %1 (%2): %3 failed: %4"_s.arg(item.runId).arg(ns, job, e.description()));
    } catch (...) {
        runlog::finish(m_store, item.runId, false, u"Fehler: unbekannter Fehler"_s, QString());
        log::line(u"batch %1 (%2): %3 failed"_s.arg(item.runId).arg(ns, job));
    }
    store::close(connection);
}

} // namespace server
