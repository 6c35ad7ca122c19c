#pragma once
// One server job: the state of one client connection and the answers to its requests.

#include "server/classdecl.h"
#include "server/m/mengine.h"
#include "server/objects.h"
#include "server/servercontext.h"
#include "server/transactions.h"

#include "factory/wire.h"

#include <QCborMap>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>

#include <functional>

#include <unordered_map>
#include <vector>

namespace server {

class Job final : public CallContext, public m::Environment
{
public:
    Job(ServerContext &server, int number);
    ~Job() override;
    Q_DISABLE_COPY_MOVE(Job)

    // Answers one request as a whole frame, valid until the next call. closeAfter: the
    // connection ends after it.
    const QByteArray &handle(const wire::Request &request, bool &closeAfter);
    // The answer is out: a large one's buffer is given back.
    void answerSent();
    // Once the call is answered: records and starts the batch runs its committed work asked for.
    void afterAnswer();
    // The connection is gone: undo an open transaction, release everything.
    void close();
    // The hello was answered: the connection is no stranger any longer.
    bool saidHello() const { return m_ns != nullptr; }
    // How long the connection may wait for the next request before idleTimeout() is due;
    // -1: as long as it likes (no job transaction open).
    int idleWaitMsec() const;
    // A job transaction went unused for too long: rolled back, the write lock released; the
    // next request is refused once, saying so.
    void idleTimeout();
    // Asked while a line runs, so that a line whose client has gone stops.
    void setPeerGone(std::function<bool()> probe) { m_peerGone = std::move(probe); }

    // CallContext
    QSqlDatabase db() override { return m_current; }
    bool dbIsQueryConnection() const override { return m_current.connectionName() != m_connectionName; }
    QString ns() const override;
    int jobNumber() const override { return m_number; }
    QString dataDir() const override { return m_server.dataDir; }
    QString outputDir() const override { return m_server.outputDir; }
    int newList(const QStringList &records) override;
    QString xecute(const QString &line) override;
    void startBatch(const QString &job, const QString &tenant, const QVariantList &args, BatchWork work) override;
    void passwordChecked(const QString &code, bool active) override;

    // The personnel code (server form) this connection signed in as; "" before a sign-in.
    QString signedInUser() const { return m_user; }

    // m::Environment
    std::optional<QString> globalGet(const QString &name, const QStringList &subscripts) override;
    int globalData(const QString &name, const QStringList &subscripts) override;
    void globalSet(const QString &name, const QStringList &subscripts, const QString &value) override;
    void globalKill(const QString &name, const QStringList &subscripts) override;
    void transactionStart() override;
    void transactionCommit() override;
    void transactionRollback() override;
    int transactionLevel() const override { return m_tx.level(); }
    bool runRoutine(const QString &name, QString &out) override;
    QString interruption() override;
    void refuseWhenMemoryFull() const;
    void dropResultSet(std::unordered_map<int, std::unique_ptr<RowSource>>::iterator it);
    template <class F> void waitingForTheLock(F &&write);

    // For the built-in classes: takes a list of this job out of its table (VR.XW "Liste").
    std::optional<QStringList> takeList(int handle);
    ServerContext &server() { return m_server; }

    static constexpr int MaxOpenHandles = 1000;
    static constexpr int MaxArguments = 16;

private:
    using PendingBatch = BatchRequest;

    QCborValue dispatch(const QString &op, const wire::Request &request, bool &closeAfter);
    QCborValue hello(const wire::Request &request, bool &closeAfter);
    QCborValue query(const wire::Request &request);
    QCborValue next(const wire::Request &request);
    QCborValue closeResultSet(const wire::Request &request);
    const ClassDecl &classOf(const wire::Request &request);
    template<typename Work>
    QCborValue inCall(Work &&work);
    void abandonCall(size_t pendingMark);
    void readBatch(RowSource &rows, int batchSize, bool &more);
    // The answer frame's head ({n, key: …), its value written after it, and its length.
    wire::CborWriter beginAnswer(std::optional<qint64> number, QLatin1StringView key);
    void endAnswer();
    void answer(std::optional<qint64> number, const QCborValue &ok);
    void answerError(std::optional<qint64> number, int code, const QString &description);
    QSqlDatabase queryConnection();

    ServerContext &m_server;
    int m_number;
    const store::Namespace *m_ns = nullptr;
    QString m_connectionName;
    QSqlDatabase m_db;      // the job's connection: every write, every transaction
    QSqlDatabase m_current; // what class code gets as db(): m_db, or a query connection
    struct QueryConnection
    {
        QString name;
        QSqlDatabase db;
        quint64 lastUse = 0;
    };
    std::vector<QueryConnection> m_queryConnections;
    quint64 m_queryCount = 0;
    static constexpr size_t MaxQueryConnections = 4;
    Transactions m_tx;
    ObjectLayer m_objects;
    m::Interpreter m_interpreter;
    std::unordered_map<int, std::unique_ptr<RowSource>> m_resultSets;
    QHash<int, QStringList> m_lists;
    QList<int> m_callLists; // made by the running call
    std::vector<PendingBatch> m_pending; // asked for inside the open transaction
    std::vector<PendingBatch> m_ready;   // committed: start once the answer is out
    QDeadlineTimer m_idleSince;          // since the last answer
    bool m_idleRolledBack = false;       // to be told at the next request
    QElapsedTimer m_lineClock;           // of the running M line
    qint64 m_nextPeerProbe = 0;
    qint64 m_lockWaitMsec = 0;           // of the running line, waiting for the write lock
    int m_lineDepth = 0;                 // a class method may run a line inside a line
    std::function<bool()> m_peerGone;
    QByteArray m_answer; // the frame of the last answer, its buffer kept for the next
    QByteArray m_rows;   // the rows of a query or next answer, as CBOR already
    bool m_rowsReady = false;
    QByteArray m_ok;       // an ok value written as CBOR already (open)
    const ClassDecl *m_lastClass = nullptr; // of the last request naming a class, and its name's CBOR
    QByteArray m_lastClassBytes;
    bool m_okReady = false;
    QString m_user;          // signed in as; see server/access.h
    int m_wrongPasswords = 0; // in a row
};

} // namespace server
