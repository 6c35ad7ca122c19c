#include "server/batch.h"

#include "server/log.h"
#include "server/sqlutil.h"
#include "server/values.h"

#include <QDateTime>
#include <QDir>

#include <thread>

using namespace Qt::StringLiterals;

namespace server {

namespace {
// The run a batch thread works for, so BatchContext::progress finds its record.
thread_local qint64 t_runId = 0;

// The run records are written outside a run's transaction, while another run may hold the
// write lock for long; a record must not get lost for that.
constexpr int RecordLockWaitMsec = 10 * 60 * 1000;

QString now() { return QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_s); }

QString argsText(const QVariantList &args)
{
    QStringList parts;
    for (const QVariant &a : args)
        parts.append(values::text(a));
    return parts.join(u'|');
}
} // namespace

void BatchContext::progress(const QString &text)
{
    if (!t_runId)
        return;
    try {
        QSqlQuery &q = sql::prepared(db, u"UPDATE batch_runs SET outcome=? WHERE id=?"_s);
        q.bindValue(0, QString(u"läuft: "_s + text));
        q.bindValue(1, t_runId);
        sql::exec(q);
        q.finish();
    } catch (const factory::Error &) {
        // Progress is a courtesy; the run goes on without it.
    }
}

BatchRunner::BatchRunner(QString dataDir, QString outputDir)
    : m_dataDir(std::move(dataDir)), m_outputDir(std::move(outputDir))
{
}

void BatchRunner::launch(const store::Namespace &ns, int startedBy, const QString &job, const QString &tenant,
                         const QVariantList &args, BatchWork work)
{
    int serial;
    {
        std::lock_guard lock(m_mutex);
        ++m_running;
        serial = ++m_serial;
    }
    std::thread([this, ns, startedBy, job, tenant, args, work = std::move(work), serial] {
        run(ns, startedBy, job, tenant, args, work, serial);
        std::lock_guard lock(m_mutex);
        if (--m_running == 0)
            m_idle.notify_all();
    }).detach();
}

bool BatchRunner::waitAll(int msec)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(msec), [this] { return m_running == 0; });
}

void BatchRunner::run(const store::Namespace &ns, int startedBy, const QString &job, const QString &tenant,
                      const QVariantList &args, const BatchWork &work, int serial)
{
    const QString connection = u"batch-"_s + QString::number(serial);
    qint64 runId = 0;
    try {
        BatchContext ctx;
        ctx.db = store::open(ns.path, connection);
        ctx.ns = ns.name;
        ctx.dataDir = m_dataDir;
        ctx.outputDir = m_outputDir;
        ctx.tenant = tenant;
        ctx.args = args;
        {
            QSqlQuery &q = sql::prepared(
                ctx.db, u"INSERT INTO batch_runs(job, tenant, args, started, outcome) VALUES(?,?,?,?,'läuft')"_s);
            q.bindValue(0, job);
            q.bindValue(1, tenant);
            q.bindValue(2, argsText(args));
            q.bindValue(3, now());
            sql::execPatiently(q, RecordLockWaitMsec);
            runId = q.lastInsertId().toLongLong();
            q.finish();
        }
        log::line(u"batch %1 (%2): %3 started for job %4"_s.arg(runId).arg(ns.name, job).arg(startedBy));
        QDir().mkpath(m_outputDir);
        t_runId = runId;
        QString outcome;
        try {
            const QString answer = work(ctx);
            outcome = answer.isEmpty() ? u"ok"_s : u"ok: "_s + answer;
        } catch (const factory::Error &e) {
            outcome = u"Fehler: "_s + e.description();
        } catch (const std::exception &e) {
            outcome = u"Fehler: "_s + QString::fromUtf8(e.what());
        } catch (...) {
            outcome = u"Fehler: unbekannter Fehler"_s;
        }
        t_runId = 0;
        // Whatever the work left open is not to be kept.
        QSqlQuery(ctx.db).exec(u"ROLLBACK"_s);
        QSqlQuery &q = sql::prepared(ctx.db, u"UPDATE batch_runs SET ended=?, outcome=? WHERE id=?"_s);
        q.bindValue(0, now());
        q.bindValue(1, outcome);
        q.bindValue(2, runId);
        sql::execPatiently(q, RecordLockWaitMsec);
        q.finish();
        log::line(u"batch %1 (%2): %3 ended, %4"_s.arg(runId).arg(ns.name, job, outcome));
    } catch (const factory::Error &e) {
        log::line(u"batch %1 (%2): %3 failed: %4"_s.arg(runId).arg(ns.name, job, e.description()));
    } catch (...) {
        log::line(u"batch %1 (%2): %3 failed"_s.arg(runId).arg(ns.name, job));
    }
    t_runId = 0;
    store::close(connection);
}

} // namespace server
