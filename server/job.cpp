#include "server/job.h"

#include "server/access.h"
#include "server/log.h"
#include "server/rowsource.h"
#include "server/sqlutil.h"
#include "server/store.h"
#include "server/values.h"
#include "factory/cbor.h"
#include "factory/wire.h"

#include <QCborArray>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>
#include <QtEndian>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;
using factory::Error;
namespace Code = factory::ErrorCode;

namespace server {

namespace {
constexpr int DefaultBatchRows = 500;
constexpr int MaxBatchRows = 10000;
// Large enough that a list of 10 000 short rows comes in one batch: over a slow line every
// batch is a round trip.
constexpr qsizetype BatchBytes = 1024 * 1024;
constexpr qint64 PeerProbeMsec = 50;
constexpr qsizetype KeptAnswerBytes = 256 * 1024; // a larger answer buffer is not kept

QString textArg(const wire::Request &request, QLatin1StringView key)
{
    if (request.isText(key))
        return request.text(key);
    const QCborValue v = request.value(key);
    if (v.isInteger())
        return QString::number(v.toInteger());
    throw Error(Code::Protocol, u"Argument '"_s + QString(key) + u"' fehlt oder ist kein Text"_s);
}

// Read off the request's bytes: a value tree of the list would cost more than the call.
QVariantList argList(const wire::Request &request, const QString &what)
{
    const QByteArrayView raw = request.raw("a"_L1);
    wire::CborReader r(raw.data(), raw.size());
    if (raw.isEmpty() || r.isNull())
        return {};
    if (!r.isArray())
        throw Error(Code::Protocol, u"Argument 'a' ist keine Liste"_s);
    QVariantList args;
    for (auto c = r.enterArray(); r.more(c);) {
        if (args.size() == Job::MaxArguments)
            throw Error(Code::ArgumentCount, what + u": mehr als 16 Argumente"_s);
        args.append(values::read(r));
    }
    return args;
}

} // namespace

Job::Job(ServerContext &server, int number) : m_server(server), m_number(number), m_objects(*this) {}

Job::~Job() { close(); }

QString Job::ns() const { return m_ns ? m_ns->name : QString(); }

void Job::close()
{
    // Statements go before the connection they belong to.
    m_resultSets.clear();
    m_objects.clear();
    m_lists.clear();
    m_pending.clear();
    for (QueryConnection &c : m_queryConnections) {
        c.db = QSqlDatabase();
        store::close(c.name);
    }
    m_queryConnections.clear();
    m_current = QSqlDatabase();
    if (m_db.isValid()) {
        if (m_tx.level() > 0)
            log::line(u"job %1: connection closed inside a transaction, rolled back"_s.arg(m_number));
        m_tx.abandon();
        m_db = QSqlDatabase();
        m_tx.setDatabase({});
        store::close(m_connectionName);
    }
}

// The answer carries its request's number ahead of everything else, so that the client can
// tell it from a stray one (and answers to requests sent ahead could be matched one day).
// Written straight into the frame buffer the job keeps.
wire::CborWriter Job::beginAnswer(std::optional<qint64> number, QLatin1StringView key)
{
    m_answer.resize(4); // the length, filled in by endAnswer
    wire::CborWriter w(m_answer);
    w.map(number ? 2 : 1);
    if (number) {
        w.key("n"_L1);
        w.integer(*number);
    }
    w.key(key);
    return w;
}

void Job::endAnswer() { qToBigEndian<quint32>(quint32(m_answer.size() - 4), m_answer.data()); }

void Job::answer(std::optional<qint64> number, const QCborValue &ok)
{
    wire::CborWriter w = beginAnswer(number, "ok"_L1);
    if (m_okReady) {
        w.raw(m_ok);
    } else if (m_rowsReady && ok.isMap()) {
        const QCborMap body = ok.toMap();
        w.map(quint64(body.size() + 1));
        for (auto it = body.constBegin(); it != body.constEnd(); ++it) {
            w.tree(it.key());
            w.tree(it.value());
        }
        w.key("rows"_L1);
        w.raw(m_rows);
    } else {
        w.tree(ok);
    }
    endAnswer();
}

void Job::answerError(std::optional<qint64> number, int code, const QString &description)
{
    wire::CborWriter w = beginAnswer(number, "err"_L1);
    w.array(2);
    w.integer(code);
    w.text(description);
    endAnswer();
}

void Job::answerSent()
{
    if (m_answer.capacity() > KeptAnswerBytes)
        m_answer = QByteArray();
    if (m_rows.capacity() > KeptAnswerBytes)
        m_rows = QByteArray();
    if (m_ok.capacity() > KeptAnswerBytes)
        m_ok = QByteArray();
}

const QByteArray &Job::handle(const wire::Request &request, bool &closeAfter)
{
    m_rowsReady = false;
    m_okReady = false;
    const std::optional<qint64> number = request.integer("n"_L1);
    if (!request.isText("op"_L1)) {
        closeAfter = true;
        log::line(u"job %1: error 1000, request without op; closing"_s.arg(m_number));
        answerError(number, Code::Protocol, u"Anfrage ohne 'op'"_s);
        return m_answer;
    }
    const QString op = request.text("op"_L1);
    auto what = [&] { return access::describe(op, request); }; // what failed, for the log
    try {
        answer(number, dispatch(op, request, closeAfter));
    } catch (const Error &e) {
        // One pass: a "%3" in the client's text must not take the error number's place.
        log::line(u"job %1: %2 failed: error %3 %4"_s.arg(QString::number(m_number), what(),
                                                           QString::number(e.number()), e.description()));
        answerError(number, e.number(), e.description());
    } catch (const std::exception &e) {
        const QString text = QString::fromUtf8(e.what());
        log::line(u"job %1: %2 failed: internal error %3"_s.arg(m_number).arg(what(), text));
        answerError(number, Code::Internal, u"Interner Fehler: "_s + text);
    } catch (...) {
        log::line(u"job %1: %2 failed: internal error"_s.arg(m_number).arg(what()));
        answerError(number, Code::Internal, u"Interner Fehler"_s);
    }
    return m_answer;
}

QCborValue Job::dispatch(const QString &op, const wire::Request &request, bool &closeAfter)
{
    if (m_idleRolledBack) {
        m_idleRolledBack = false;
        throw Error(Code::Transaction,
                    u"Transaktion (TSTART) nach %1 s ohne Aufruf zurückgerollt, ihre Änderungen sind verworfen"_s
                        .arg(m_server.transactionIdleMsec / 1000.0));
    }
    if (op == "hello"_L1)
        return hello(request, closeAfter);
    if (op == "ping"_L1)
        return QCborValue(QCborValue::Null);
    if (!m_ns)
        throw Error(Code::Protocol, u"Zuerst anmelden ('hello'), dann '"_s + op + u"'"_s);
    if (m_user.isEmpty() && !access::openBeforeSignIn(op, request))
        throw Error(Code::SignInRequired, access::refusal(op, request));
    if (m_wrongPasswords >= access::FreeWrongPasswords && access::isPasswordCheck(op, request))
        QThread::msleep(access::WrongPasswordDelayMsec); // this connection's thread only

    if (op == "next"_L1)
        return next(request);
    if (op == "close"_L1)
        return closeResultSet(request);
    // Anything else may read or write: a result set still streaming on the job's own
    // connection (one opened inside a job transaction) must not pin an old snapshot under it.
    detachSqlRowSources(m_db.driver());
    if (op == "open"_L1) {
        const ClassDecl &decl = classOf(request);
        m_ok.resize(0);
        wire::CborWriter w(m_ok);
        m_objects.open(decl, textArg(request, "id"_L1), w);
        m_okReady = true;
        return {};
    }
    if (op == "save"_L1) {
        const ClassDecl &decl = classOf(request);
        const QCborValue p = request.value("p"_L1);
        if (!p.isMap() && !p.isUndefined() && !p.isNull())
            throw Error(Code::Protocol, u"save: 'p' ist keine Zuordnung"_s);
        return inCall([&] {
            return QCborValue(m_objects.save(decl, request.value("id"_L1), request.value("init"_L1), p.toMap()));
        });
    }
    if (op == "call"_L1) {
        const ClassDecl &decl = classOf(request);
        const QString method = textArg(request, "m"_L1);
        const QVariantList args = argList(request, method);
        auto it = decl.methods.constFind(method.toLower());
        if (it == decl.methods.constEnd())
            throw Error(Code::UnknownMethod, u"Klassenmethode '"_s + method + u"' gibt es in der Klasse '"_s
                                                 + decl.name + u"' nicht"_s);
        return inCall([&] { return values::toCbor(it.value()(*this, args)); });
    }
    if (op == "icall"_L1) {
        const ClassDecl &decl = classOf(request);
        // A null id: an object not saved yet, which still converts values for display.
        const QString id = request.value("id"_L1).isNull() ? QString() : textArg(request, "id"_L1);
        const QString method = textArg(request, "m"_L1);
        const QVariantList args = argList(request, method);
        return inCall([&] { return values::toCbor(m_objects.call(decl, id, method, args)); });
    }
    if (op == "query"_L1)
        return query(request);
    throw Error(Code::Protocol, u"Unbekannte Operation '"_s + op + u"'"_s);
}

template<typename Work>
QCborValue Job::inCall(Work &&work)
{
    const size_t mark = m_pending.size();
    QElapsedTimer clock;
    clock.start();
    const bool postgres = sql::postgres(m_db);
    for (int attempt = 0;; ++attempt) {
        const bool immediate = attempt > 0;
        m_callLists.clear();
        m_tx.beginCall(immediate);
        try {
            QCborValue answer = work();
            m_tx.endCall();
            if (m_tx.level() == 0) {
                for (PendingBatch &b : m_pending)
                    m_ready.push_back(std::move(b));
                m_pending.clear();
            }
            return answer;
        } catch (const sql::Conflict &) {
            // SQLite: a conflict found at once (outdated snapshot) is worth a second try, holding
            // the write lock, which nothing can take from it; one that already waited out the
            // busy timeout would only wait as long again. PostgreSQL: the call met another's
            // row; it runs again for as long as SQLite would wait for its lock.
            const bool again = m_tx.callRetryable()
                               && (postgres ? clock.elapsed() < 5000 : !immediate && clock.elapsed() < 1000);
            abandonCall(mark);
            if (!again)
                throw;
            if (postgres)
                QThread::usleep(500 + QRandomGenerator::global()->bounded(1000 << std::min(attempt, 5)));
        } catch (const Error &e) {
            const bool again = !postgres && !immediate && e.number() == Code::Storage && m_tx.callRetryable()
                               && clock.elapsed() < 1000;
            abandonCall(mark);
            if (!again)
                throw;
        } catch (...) {
            abandonCall(mark);
            throw;
        }
    }
    return {}; // not reached: the last try returns or throws
}

void Job::abandonCall(size_t pendingMark)
{
    m_tx.abortCall();
    if (m_pending.size() > pendingMark)
        m_pending.resize(pendingMark);
    // The client never learnt these handles.
    for (int handle : std::as_const(m_callLists))
        m_lists.remove(handle);
    m_callLists.clear();
}

QCborValue Job::hello(const wire::Request &request, bool &closeAfter)
{
    if (m_ns)
        throw Error(Code::Protocol, u"Bereits angemeldet (Namensraum "_s + m_ns->name + u")"_s);
    const QCborValue version = request.value("v"_L1);
    if (!version.isInteger() || version.toInteger() != wire::ProtocolVersion) {
        closeAfter = true;
        throw Error(Code::Version, u"Protokollversion "_s + version.toVariant().toString()
                                       + u" wird nicht unterstützt (Server: 1)"_s);
    }
    const QCborValue nsValue = request.value("ns"_L1);
    const store::Namespace *ns = nsValue.isString() ? m_server.findNamespace(nsValue.toString()) : nullptr;
    if (!ns) {
        closeAfter = true;
        throw Error(Code::UnknownNamespace,
                    u"Namensraum '"_s + nsValue.toVariant().toString() + u"' gibt es auf diesem Server nicht"_s);
    }
    m_connectionName = u"job-"_s + QString::number(m_number);
    m_db = store::open(*ns, m_connectionName);
    m_current = m_db;
    m_tx.setDatabase(m_db);
    m_ns = ns;
    QCborMap answer;
    answer.insert(u"job"_s, m_number);
    answer.insert(u"ns"_s, ns->name);
    return answer;
}

const ClassDecl &Job::classOf(const wire::Request &request)
{
    // A client mostly calls the class of its last call: known by its bytes, it needs no
    // text, lower-casing and lookup. Declarations live as long as the server.
    const QByteArrayView raw = request.raw("cls"_L1);
    if (m_lastClass && !raw.isEmpty() && raw == QByteArrayView(m_lastClassBytes))
        return *m_lastClass;
    const QString name = textArg(request, "cls"_L1);
    const ClassDecl *decl = m_server.registry.find(name, *this);
    if (!decl)
        throw Error(Code::UnknownClass, u"Klasse '"_s + name + u"' existiert nicht"_s);
    m_lastClass = decl;
    m_lastClassBytes = raw.toByteArray();
    return *decl;
}

// The rows go into m_rows as CBOR at once, without a value tree between: an array whose
// count (four bytes, CBOR allows the longer form) is filled in at the end.
void Job::readBatch(RowSource &rows, int batchSize, bool &more)
{
    m_rowsReady = false;
    m_rows.resize(0);
    m_rows.append(char(0x9a));
    m_rows.append(4, '\0');
    wire::CborWriter w(m_rows);
    qsizetype bytes = 0;
    int count = 0;
    more = true;
    while (count < batchSize && bytes < BatchBytes) {
        const qsizetype size = rows.writeNext(w);
        if (size < 0) {
            more = false;
            break;
        }
        bytes += size;
        ++count;
    }
    qToBigEndian<quint32>(quint32(count), m_rows.data() + 1);
    m_rowsReady = true;
}

static int batchSizeOf(const wire::Request &request)
{
    const QCborValue b = request.value("b"_L1);
    if (!b.isInteger())
        return DefaultBatchRows;
    return int(qBound<qint64>(1, b.toInteger(), qint64(MaxBatchRows)));
}

QCborValue Job::query(const wire::Request &request)
{
    const ClassDecl &decl = classOf(request);
    const QString name = textArg(request, "q"_L1);
    const QVariantList args = argList(request, name);
    if (args.size() > 5)
        throw Error(Code::ArgumentCount, u"Abfrage '"_s + name + u"': höchstens 5 Argumente"_s);
    auto it = decl.queries.constFind(name.toLower());
    if (it == decl.queries.constEnd())
        throw Error(Code::UnknownQuery,
                    u"Abfrage '"_s + name + u"' gibt es in der Klasse '"_s + decl.name + u"' nicht"_s);
    if (m_resultSets.size() >= MaxOpenHandles)
        throw Error(Code::BadHandle, u"Zu viele offene Ergebnismengen (höchstens 1000)"_s);
    refuseWhenMemoryFull();
    const int batchSize = batchSizeOf(request);
    QCborMap answer;
    std::unique_ptr<RowSource> rows;
    auto run = [&] {
        bool more = false;
        try {
            rows = it.value()(*this, args);
            if (!rows)
                rows = rowsFromList(0, {});
            readBatch(*rows, batchSize, more);
        } catch (...) {
            m_rowsReady = false;
            rows.reset(); // its statement ends before anything is undone
            throw;
        }
        answer.insert(u"c"_s, rows->columnCount());
        answer.insert(u"more"_s, more);
        if (!more)
            rows.reset();
        return QCborValue();
    };
    if (m_tx.level() > 0) {
        // Inside a job transaction the query must see the job's own uncommitted writes.
        inCall(run);
    } else {
        m_current = queryConnection();
        try {
            run();
        } catch (...) {
            m_current = m_db;
            throw;
        }
        m_current = m_db;
    }
    int handle = 0;
    if (rows) {
        handle = m_server.nextHandle++;
        m_resultSets.emplace(handle, std::move(rows));
    }
    answer.insert(u"h"_s, handle);
    return answer;
}

QCborValue Job::next(const wire::Request &request)
{
    const QCborValue h = request.value("h"_L1);
    auto it = m_resultSets.find(int(h.toInteger()));
    if (!h.isInteger() || it == m_resultSets.end())
        throw Error(Code::BadHandle, u"Ergebnismenge "_s + h.toVariant().toString()
                                         + u" ist unbekannt, geschlossen oder gehört einem anderen Job"_s);
    bool more = false;
    readBatch(*it->second, batchSizeOf(request), more);
    if (!more)
        dropResultSet(it);
    QCborMap answer;
    answer.insert(u"more"_s, more);
    return answer;
}

QCborValue Job::closeResultSet(const wire::Request &request)
{
    const QCborValue h = request.value("h"_L1);
    const auto it = h.isInteger() ? m_resultSets.find(int(h.toInteger())) : m_resultSets.end();
    if (it == m_resultSets.end())
        throw Error(Code::BadHandle, u"Ergebnismenge "_s + h.toVariant().toString()
                                         + u" ist unbekannt, geschlossen oder gehört einem anderen Job"_s);
    dropResultSet(it);
    return QCborValue(QCborValue::Null);
}

// Rows read into memory (a result set whose statement had to give way, a class's list) are
// bounded per job, in bytes as well as in number, so that one job cannot take the server's
// memory; a further query or list waits until the client closes some.
void Job::refuseWhenMemoryFull() const
{
    qint64 held = 0;
    for (const auto &[handle, rows] : m_resultSets)
        held += rows->heldBytes();
    for (const QStringList &records : m_lists)
        for (const QString &record : records)
            held += textBytes(record);
    if (held > m_server.jobMemoryBytes)
        throw Error(Code::BadHandle,
                    u"Offene Ergebnismengen und Listen dieses Jobs belegen mehr als %1 MiB; bitte schließen"_s.arg(
                        m_server.jobMemoryBytes >> 20));
}

void Job::dropResultSet(std::unordered_map<int, std::unique_ptr<RowSource>>::iterator it)
{
    const bool large = it->second->heldBytes() >= (8 << 20);
    m_resultSets.erase(it);
#if defined(__GLIBC__)
    // Freed rows stay with the process unless the allocator is asked to give them back.
    if (large)
        ::malloc_trim(0);
#endif
}

// A connection of the job's own for a query, with no statement streaming from it, so the
// query reads the database as it is now. A few are kept; when all of them still stream,
// the longest unused one is read into memory and taken.
QSqlDatabase Job::queryConnection()
{
    ++m_queryCount;
    QueryConnection *idle = nullptr;
    for (QueryConnection &c : m_queryConnections) {
        if (!sqlRowSourcesLive(c.db.driver())) {
            idle = &c;
            break;
        }
    }
    if (!idle && m_queryConnections.size() < MaxQueryConnections) {
        QueryConnection c;
        c.name = m_connectionName + u"-q"_s + QString::number(m_queryConnections.size() + 1);
        c.db = store::open(*m_ns, c.name);
        m_queryConnections.push_back(std::move(c));
        idle = &m_queryConnections.back();
    }
    if (!idle) {
        idle = &*std::min_element(m_queryConnections.begin(), m_queryConnections.end(),
                                  [](const QueryConnection &a, const QueryConnection &b) {
                                      return a.lastUse < b.lastUse;
                                  });
        detachSqlRowSources(idle->db.driver());
    }
    idle->lastUse = m_queryCount;
    return idle->db;
}

void Job::afterAnswer()
{
    m_idleSince.setRemainingTime(m_server.transactionIdleMsec);
    if (m_ready.empty())
        return;
    std::vector<PendingBatch> ready;
    ready.swap(m_ready);
    for (PendingBatch &b : ready)
        m_server.batches->launch(*m_ns, m_number, std::move(b));
}

int Job::newList(const QStringList &records)
{
    if (m_lists.size() >= MaxOpenHandles)
        throw Error(Code::BadHandle, u"Zu viele offene Listen (höchstens 1000)"_s);
    refuseWhenMemoryFull();
    const int handle = m_server.nextHandle++;
    m_lists.insert(handle, records);
    m_callLists.append(handle);
    return handle;
}

std::optional<QStringList> Job::takeList(int handle)
{
    auto it = m_lists.find(handle);
    if (it == m_lists.end())
        return std::nullopt;
    QStringList records = std::move(it.value());
    m_lists.erase(it);
    return records;
}

QString Job::xecute(const QString &line)
{
    if (m_lineDepth == 0) {
        m_lineClock.start();
        m_lockWaitMsec = 0;
        m_nextPeerProbe = PeerProbeMsec; // a short line, most of them, asks the socket nothing
    }
    ++m_lineDepth;
    struct Leave
    {
        int &depth;
        ~Leave() { --depth; }
    } leave{m_lineDepth};
    return m_interpreter.execute(line, *this);
}

QString Job::interruption()
{
    const qint64 elapsed = m_lineClock.elapsed() - m_lockWaitMsec;
    if (elapsed > m_server.lineTimeMsec)
        return u"die Zeile läuft länger als %1 s"_s.arg(m_server.lineTimeMsec / 1000.0);
    // A look at the socket costs a system call: a few times a second is enough.
    if (m_peerGone && elapsed >= m_nextPeerProbe) {
        m_nextPeerProbe = elapsed + PeerProbeMsec;
        if (m_peerGone())
            return u"die Verbindung zum Client ist getrennt"_s;
    }
    return {};
}

int Job::idleWaitMsec() const
{
    if (m_tx.level() == 0 || m_idleSince.isForever())
        return -1;
    return int(qMax<qint64>(0, m_idleSince.remainingTime()));
}

void Job::idleTimeout()
{
    if (m_tx.level() == 0)
        return;
    log::line(u"job %1: transaction idle for %2 s, rolled back"_s.arg(m_number).arg(m_server.transactionIdleMsec / 1000.0));
    m_tx.abandon();
    m_pending.clear();
    m_idleRolledBack = true;
}

void Job::startBatch(const QString &job, const QString &tenant, const QVariantList &args, BatchWork work)
{
    m_pending.push_back({job, tenant, signedInUser(), args, std::move(work)});
}

void Job::passwordChecked(const QString &code, bool active)
{
    if (code.isEmpty()) {
        ++m_wrongPasswords;
        return;
    }
    m_wrongPasswords = 0;
    if (!active)
        return;
    if (m_user != code)
        log::line(u"job %1: signed in as %2"_s.arg(m_number).arg(code));
    m_user = code;
}

std::optional<QString> Job::globalGet(const QString &name, const QStringList &subscripts)
{
    return globals::get(m_db, name, subscripts);
}

int Job::globalData(const QString &name, const QStringList &subscripts)
{
    return globals::data(m_db, name, subscripts);
}

// A write may wait for another job's write lock; that wait has its own bound (4000) and is
// not the line's work, so it does not count against the line's time.
template <class F> void Job::waitingForTheLock(F &&write)
{
    QElapsedTimer wait;
    wait.start();
    const auto count = qScopeGuard([&] { m_lockWaitMsec += wait.elapsed(); });
    write();
}

void Job::globalSet(const QString &name, const QStringList &subscripts, const QString &value)
{
    waitingForTheLock([&] { globals::set(m_db, name, subscripts, value); });
}

void Job::globalKill(const QString &name, const QStringList &subscripts)
{
    waitingForTheLock([&] { globals::kill(m_db, name, subscripts); });
}

void Job::transactionStart()
{
    waitingForTheLock([&] { m_tx.start(); });
}

void Job::transactionCommit()
{
    waitingForTheLock([&] { m_tx.commit(); });
}

void Job::transactionRollback()
{
    if (m_tx.rollback())
        m_pending.clear();
}

bool Job::runRoutine(const QString &name, QString &out)
{
    const Routine *routine = m_server.registry.routine(name);
    if (!routine)
        return false;
    out = (*routine)(*this);
    return true;
}

} // namespace server
