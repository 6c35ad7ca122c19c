#pragma once
// Transactions of one job on its SQLite connection.
//
// Every call runs in a transaction of its own: BEGIN IMMEDIATE (the write lock up front,
// so a call never fails half-way on a stale snapshot) and COMMIT once it succeeded, or
// ROLLBACK. TSTART from an M line opens a job transaction instead: the SQL transaction
// then stays open past the call, the later calls run inside it under a SAVEPOINT each
// (so a failing call undoes only its own writes), and it ends with the TCOMMIT that
// brings the level back to 0 (committed when that call succeeds) or with TROLLBACK
// (everything undone at once). A failing call also undoes the level changes it made.
// Writes a call made before its own TSTART belong to the job transaction.

#include <QSqlDatabase>

namespace server {

class Transactions final
{
public:
    Transactions() = default;
    Q_DISABLE_COPY_MOVE(Transactions)
    void setDatabase(QSqlDatabase db) { m_db = std::move(db); }

    // write = false for calls that are expected only to read (queries): no write lock up
    // front, so they do not wait for another job's transaction.
    void beginCall(bool write);
    void endCall();   // success; throws factory::Error (and leaves nothing open) when COMMIT fails
    void abortCall(); // failure; never throws

    void start();    // TSTART
    void commit();   // TCOMMIT; throws 4001 outside a transaction
    bool rollback(); // TROLLBACK; false when none was open
    int level() const { return m_level; }
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
    bool m_callWrite = true;
};

} // namespace server
