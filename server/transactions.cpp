#include "server/transactions.h"

#include "factory/error.h"
#include "server/rowsource.h"
#include "server/sqlutil.h"

#include <QSqlDriver>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace server {

// Kept prepared: BEGIN and COMMIT go with every call.
void Transactions::exec(const QString &text)
{
    // SQLite keeps them prepared; PostgreSQL prepares no transaction statements.
    if (sql::postgres(m_db))
        sql::exec(m_db, text);
    else
        sql::run(sql::prepared(m_db, text));
}

void Transactions::rollbackAll() noexcept
{
    detachSqlRowSources(m_db.driver());
    QSqlQuery(m_db).exec(u"ROLLBACK"_s);
    m_sqlOpen = false;
    m_callSavepoint = false;
    m_level = 0;
}

void Transactions::beginCall(bool immediate)
{
    m_callStartLevel = m_level;
    m_callDeferred = false;
    m_callRetryable = false;
    if (m_sqlOpen) {
        exec(u"SAVEPOINT call"_s);
        m_callSavepoint = true;
    } else {
        // A streaming result set of this job would pin an old snapshot; the write lock
        // could then not be taken once another job has committed.
        detachSqlRowSources(m_db.driver());
        if (sql::postgres(m_db)) {
            // No write lock to take: rows are locked as they are written. The calls run again
            // after a conflict take their turns, so that they do not keep meeting each other.
            exec(u"BEGIN"_s);
            if (immediate)
                exec(u"SELECT pg_advisory_xact_lock(hashtext(current_schema()))"_s);
        } else {
            exec(immediate ? u"BEGIN IMMEDIATE"_s : u"BEGIN"_s);
        }
        m_sqlOpen = true;
        m_callSavepoint = false;
        m_callDeferred = !immediate;
        // PostgreSQL: every try may meet another's row, and may be run again.
        m_callRetryable = !immediate || sql::postgres(m_db);
    }
    m_inCall = true;
}

void Transactions::endCall()
{
    m_inCall = false;
    try {
        if (m_callSavepoint) {
            exec(u"RELEASE call"_s);
            m_callSavepoint = false;
        }
        if (m_level == 0 && m_sqlOpen) {
            exec(u"COMMIT"_s);
            m_sqlOpen = false;
        }
    } catch (const factory::Error &e) {
        rollbackAll();
        throw factory::Error(factory::ErrorCode::Transaction,
                             u"Transaktion nicht abzuschließen, alles zurückgenommen: "_s + e.description());
    }
}

void Transactions::abortCall()
{
    m_inCall = false;
    if (!m_sqlOpen)
        return;
    if (!m_callSavepoint) {
        rollbackAll();
        return;
    }
    QSqlQuery q(m_db);
    if (q.exec(u"ROLLBACK TO call"_s) && q.exec(u"RELEASE call"_s)) {
        m_callSavepoint = false;
        m_level = m_callStartLevel;
    } else {
        rollbackAll();
    }
}

void Transactions::start()
{
    if (!m_sqlOpen) {
        // Only reached from outside a call (no M line runs there); kept safe anyway.
        exec(sql::postgres(m_db) ? u"BEGIN"_s : u"BEGIN IMMEDIATE"_s);
        m_sqlOpen = true;
    } else if (m_level == 0 && m_callDeferred && !sql::postgres(m_db)) {
        // A write that changes nothing takes the write lock for the job transaction now:
        // later calls inside it must never meet a lock conflict they cannot undo alone.
        exec(u"UPDATE globals SET value=value WHERE 0"_s);
        m_callDeferred = false;
    }
    ++m_level;
}

void Transactions::commit()
{
    if (m_level == 0)
        throw factory::Error(factory::ErrorCode::Transaction, u"TCOMMIT ohne offene Transaktion (TSTART fehlt)"_s);
    --m_level;
    if (m_level == 0 && !m_inCall && m_sqlOpen) {
        exec(u"COMMIT"_s);
        m_sqlOpen = false;
    }
}

bool Transactions::rollback()
{
    if (m_level == 0)
        return false;
    rollbackAll();
    if (m_inCall) {
        // The rest of the call runs in a transaction of its own again (deferred: a failing
        // line undoes its TSTART this way, and must not wait for another job's lock to do
        // so). What was undone stays undone, so the call is not to be run a second time.
        exec(u"BEGIN"_s);
        m_sqlOpen = true;
        m_callStartLevel = 0;
        m_callDeferred = true;
        m_callRetryable = false;
    }
    return true;
}

void Transactions::abandon()
{
    if (m_sqlOpen)
        rollbackAll();
    m_inCall = false;
}

} // namespace server
