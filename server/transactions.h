#pragma once
// Transactions of one job on its connection to the store.
//
// Every call runs in a transaction of its own, committed once it succeeded, else rolled
// back. It starts deferred, so calls that only read never wait for another job's writes.
// Should its first write find the write lock taken, or its snapshot outdated by another
// job's commit, the call fails with 4000 and the job runs it once more from the start
// with BEGIN IMMEDIATE (callRetryable). TSTART from an M line opens a job transaction: it
// takes the write lock at once, so nothing inside it can fail that way. The SQL transaction
// then stays open past the call, the later calls run inside it under a SAVEPOINT each
// (so a failing call undoes only its own writes), and it ends with the TCOMMIT that
// brings the level back to 0 (committed when that call succeeds) or with TROLLBACK
// (everything undone at once). A failing call also undoes the level changes it made.
// Writes a call made before its own TSTART belong to the job transaction.
//
// On PostgreSQL there is no write lock: each transaction reads one snapshot (repeatable
// read) and locks the rows it writes. A call that meets another's row, or finds a row
// changed since its snapshot, fails the same way and is run again once (outside a job
// transaction); inside one it fails with 4000 and the job transaction goes on without it.

#include <QSqlDatabase>

namespace server {

class Transactions final
{
public:
    Transactions() = default;
    Q_DISABLE_COPY_MOVE(Transactions)
    void setDatabase(QSqlDatabase db) { m_db = std::move(db); }

    // immediate: take the write lock up front (the second try of a call).
    void beginCall(bool immediate);
    void endCall();   // success; throws factory::Error (and leaves nothing open) when COMMIT fails
    void abortCall(); // failure; never throws

    void start();    // TSTART
    void commit();   // TCOMMIT; throws 4001 outside a transaction
    bool rollback(); // TROLLBACK; false when none was open
    int level() const { return m_level; }
    // The running call began outside a job transaction without the write lock and may be
    // run again from its start after a lock conflict.
    bool callRetryable() const { return m_callRetryable; }
    bool inCall() const { return m_inCall; }

    // The connection is going away: undo whatever is open.
    void abandon();

private:
    void exec(const QString &text);
    void rollbackAll() noexcept;

    QSqlDatabase m_db;
    int m_level = 0;         // M $TLEVEL
    int m_callStartLevel = 0;
    bool m_sqlOpen = false;  // an SQL transaction is open on the connection
    bool m_callSavepoint = false;
    bool m_inCall = false;
    bool m_callDeferred = false; // the call's own transaction does not hold the write lock yet
    bool m_callRetryable = false;
};

} // namespace server
