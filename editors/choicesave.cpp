#include "editors/choicesave.h"

#include "factory/factory.h"
#include "session/cacheapi.h"

using namespace Qt::StringLiterals;

namespace editors::choice {

namespace {

// The server job a transaction lives in; 0 when there is no standing connection.
int currentJob()
{
    try {
        if (cacheapi::Factory && cacheapi::Factory->IsConnected())
            return cacheapi::Factory->jobNumber();
    } catch (...) {
    }
    return 0;
}

// A transaction belongs to its job: after a reconnect it is gone (the server drops it with
// the old job), and TCOMMIT or TROLLBACK on the new job would act on nothing.
bool stillInJob(int job) { return job != 0 && currentJob() == job; }

void rollback(int job)
{
    if (!stillInJob(job))
        return;
    bool failed = false;
    cacheapi::dbCall(u"TROLLBACK"_s, failed, true);
}

void commit()
{
    factory::ClassObjectPtr windows = cacheapi::Factory->Static(u"VR.Windows"_s);
    windows->call(u"Xecute"_s, {u"TCOMMIT"_s});
    cacheapi::CloseObject(windows);
}

void reportLostJob(const QString &operation)
{
    cacheapi::CacheFehlermeldung(factory::ErrorCode::NotConnected,
                                 u"Die Verbindung zum Server wurde unterbrochen; nichts wurde gespeichert."_s,
                                 operation);
}

} // namespace

void reportCurrentException(const QString &operation)
{
    try {
        throw;
    } catch (const factory::Error &e) {
        cacheapi::CacheFehlermeldung(e, operation);
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, operation);
    } catch (...) {
        cacheapi::CacheFehlermeldung(0, u"Unbekannter Fehler"_s, operation);
    }
}

bool saveInTransaction(const QString &operation, const std::function<void()> &work)
{
    try {
        cacheapi::BeginServerWork();
    } catch (...) {
        reportCurrentException(operation);
        return false;
    }

    // dbCall reports its own failures; the report ends this level of server work.
    bool failed = false;
    cacheapi::dbCall(u"TSTART"_s, failed);
    if (failed)
        return false;
    const int job = currentJob();
    if (job == 0) {
        reportLostJob(operation);
        return false;
    }

    try {
        {
            // Inside the transaction the saves need not wait for each other: their answers are
            // read before the commit goes out, and a refused one stops it.
            factory::SavePipeline pipelined(*cacheapi::Factory);
            work();
        }
        // Straight to the server, not through dbCall: should the commit fail, the rollback
        // must come before any box.
        if (stillInJob(job))
            commit();
    } catch (...) {
        // Roll back before the box: a modal box may stand for long, the open transaction
        // would hold its locks that long.
        rollback(job);
        reportCurrentException(operation);
        return false;
    }

    if (!stillInJob(job)) { // the job was lost before the commit, and its transaction with it
        reportLostJob(operation);
        return false;
    }
    cacheapi::EndServerWork();
    return true;
}

} // namespace editors::choice
