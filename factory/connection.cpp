#include "factory/connection.h"

#include "factory/securechannel.h"
#include "factory/wire.h"

#include <QtEndian>

#include <cstring>
#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#endif

using namespace Qt::StringLiterals;

namespace factory {

namespace {
constexpr qsizetype SmallInput = 64 * 1024; // most answers
constexpr qsizetype LargeInput = 4 * 1024 * 1024; // kept for the next: a batch of rows (about 1 MiB)
} // namespace

std::optional<Address> parseConnectionString(QStringView text)
{
    text = text.trimmed();
    constexpr auto prefix = "cn_iptcp:"_L1;
    if (!text.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    const QStringView rest = text.mid(prefix.size());
    const qsizetype open = rest.lastIndexOf(u'[');
    const qsizetype close = rest.indexOf(u']', open + 1);
    if (open <= 0 || close < 0 || close + 1 >= rest.size() || rest[close + 1] != u':')
        return std::nullopt;
    Address a;
    const QStringView host = rest.first(open);
    const QStringView port = rest.mid(open + 1, close - open - 1);
    const QStringView ns = rest.mid(close + 2);
    for (QChar c : host)
        if (c.isSpace() || c == u'[' || c == u']')
            return std::nullopt;
    if (port.isEmpty() || port.size() > 5)
        return std::nullopt;
    uint portNumber = 0;
    for (QChar c : port) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        portNumber = portNumber * 10 + uint(c.unicode() - u'0');
    }
    if (portNumber == 0 || portNumber > 65535)
        return std::nullopt;
    if (ns.isEmpty())
        return std::nullopt;
    for (QChar c : ns)
        if (!c.isLetterOrNumber() && c != u'%' && c != u'_' && c != u'-' && c != u'.')
            return std::nullopt;
    a.host = host.toString();
    a.port = quint16(portNumber);
    a.ns = ns.toString();
    return a;
}

QString describe(const CallInfo &info)
{
    QString s = QString(info.operation);
    if (!info.className.isEmpty())
        s += u' ' + info.className;
    if (!info.member.isEmpty())
        s += (info.className.isEmpty() ? u" "_s : u"."_s) + info.member;
    if (!info.id.isEmpty())
        s += u" '"_s + info.id + u'\'';
    return s;
}

Connection::Connection()
{
    m_out.reserve(512);
}

Connection::~Connection() = default;

bool Connection::open(const Address &address, int connectTimeoutMsec)
{
    close();
    m_where = address.host + u'[' + QString::number(address.port) + u']';
    m_request = 0;
    // Unbuffered: requests go straight to the kernel, answers straight into m_in, without
    // Qt's ring buffers and the event-dispatcher wake-ups its write notifier costs.
    m_socket.connectToHost(address.host, address.port, QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!m_socket.waitForConnected(connectTimeoutMsec)) {
        m_socket.abort();
        return false;
    }
    // Requests are small and answered at once; Nagle would hold each back for an ack.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_connected = true;

    const QDeadlineTimer deadline(connectTimeoutMsec);
    auto left = [&] { return int(qMax<qint64>(1, deadline.remainingTime())); };
    const QString pinnedAs = address.host.toLower() + u'[' + QString::number(address.port) + u']';
    try {
        if (hello(address.ns, connectTimeoutMsec)) {
            securechannel::startClient(m_socket, pinnedAs, m_pins.get(), left());
            hello(address.ns, left());
        } else {
            securechannel::checkPlain(pinnedAs, m_pins.get());
        }
    } catch (const Error &e) {
        const bool answered = m_answered || (e.number() >= ErrorCode::CertificateChanged && e.number() <= ErrorCode::TlsFailed);
        close();
        if (answered)
            throw; // a server that refuses is reached, and says why; a failed check is no retry either
        return false; // whatever listens there is no varelo-server
    }
    if (m_ns.isEmpty())
        m_ns = address.ns;
    makeBlocking();
    return true;
}

namespace {
#if defined(Q_OS_UNIX)
// Sets the socket's SO_RCVTIMEO or SO_SNDTIMEO (0: none) and notes it in `current`.
void setSocketTimeout(int fd, int option, int msec, int &current)
{
    msec = qMax(0, msec);
    timeval tv{msec / 1000, (msec % 1000) * 1000};
    current = ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? msec : -1;
}
#endif
} // namespace

void Connection::makeBlocking()
{
#if defined(Q_OS_UNIX)
    // A read that waits for the answer itself saves the poll before it, a system call of
    // every request. Qt reads this socket only when asked to (it is unbuffered), so nothing
    // else ever reads it without data waiting. TLS keeps Qt's waits.
    if (m_socket.isEncrypted())
        return;
    const int fd = int(m_socket.socketDescriptor());
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return;
    m_blocking = true;
    m_receiveTimeout = m_sendTimeout = -1; // set by the first request, see sendAll()
#endif
}

// Offers TLS; a server that serves TLS only answers with the offer instead of the job.
bool Connection::hello(const QString &ns, int timeoutMsec)
{
    CborWriter &w = begin("hello"_L1, 3);
    w.key("v"_L1);
    w.integer(wire::ProtocolVersion);
    w.key("ns"_L1);
    w.text(ns);
    w.key("tls"_L1);
    w.boolean(true);
    CborReader &r = exchange({"Connect"_L1, ns}, timeoutMsec);
    bool offered = false;
    for (auto c = r.enterMap(); r.more(c);) {
        const QByteArrayView key = r.textView();
        if (key == "job")
            m_job = int(r.integer());
        else if (key == "ns")
            m_ns = r.text();
        else if (key == "tls")
            offered = r.boolean() && !m_socket.isEncrypted();
        else
            r.skip();
    }
    return offered;
}

void Connection::close()
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_connected = false;
    m_job = 0;
    m_blocking = false;
    m_pipelined.clear(); // their answers are gone with the job, and the transaction with them
    m_inHave = m_inStart = m_inEnd = 0;
}

bool Connection::isConnected()
{
    if (!m_connected)
        return false;
    // Answers of pipelined requests are due: they are read by the next exchange, not here.
    if (!m_pipelined.empty())
        return m_socket.state() == QAbstractSocket::ConnectedState;
    // Between calls nothing is due from the server. A read that does not wait tells: nothing
    // (still there), end of stream (gone), or bytes (its last words before closing).
    char probe;
#if defined(Q_OS_UNIX)
    if (m_blocking) {
        const ssize_t n = ::recv(int(m_socket.socketDescriptor()), &probe, 1, MSG_DONTWAIT);
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            close();
        return m_connected;
    }
#endif
    if (m_socket.isEncrypted())
        m_socket.waitForReadyRead(0); // TLS reads the socket only when asked to
    if (m_socket.read(&probe, 1) != 0 || m_socket.state() != QAbstractSocket::ConnectedState)
        close();
    return m_connected;
}

CborWriter &Connection::begin(QLatin1StringView op, int pairs)
{
    m_out.resize(4); // length, filled in by exchange(); keeps the capacity
    m_writer.map(quint64(pairs + 2));
    m_writer.key("op"_L1);
    m_writer.key(op);
    m_writer.key("n"_L1);
    m_writer.integer(++m_request);
    return m_writer;
}

// True when there is something to read (or the end of the stream) before the deadline; on a
// blocking socket, when the next read may wait for it until then.
bool Connection::waitForAnswer(const QDeadlineTimer &deadline)
{
#if defined(Q_OS_UNIX)
    if (m_blocking) {
        // The receive timeout stands for the deadline. It is set anew only when it is off by
        // more than a little: a call's first read finds the one of the call before.
        const int fd = int(m_socket.socketDescriptor());
        if (deadline.isForever()) {
            if (m_receiveTimeout != 0)
                setSocketTimeout(fd, SO_RCVTIMEO, 0, m_receiveTimeout);
            return true;
        }
        const int left = int(qMax<qint64>(1, deadline.remainingTime()));
        if (m_receiveTimeout < left / 2 || m_receiveTimeout > left + left / 16 + 10)
            setSocketTimeout(fd, SO_RCVTIMEO, left, m_receiveTimeout);
        return true;
    }
    if (!m_socket.isEncrypted()) {
        // Unbuffered and plain, the socket holds nothing the kernel does not: one poll, where
        // Qt's wait would ask the kernel for the count of waiting bytes as well.
        pollfd p = {int(m_socket.socketDescriptor()), POLLIN, 0};
        for (;;) {
            const int n = ::poll(&p, 1, deadline.isForever() ? -1 : int(deadline.remainingTime()));
            if (n < 0 && errno == EINTR)
                continue;
            return n > 0;
        }
    }
#endif
    // Only wait for news when the socket holds nothing: what it has buffered already (more
    // than one read takes) would not wake the wait again.
    return m_socket.bytesAvailable() > 0 || m_socket.waitForReadyRead(int(deadline.remainingTime()));
}

CborReader &Connection::exchange(const CallInfo &info) { return exchange(info, m_callTimeout); }

void Connection::lost(const CallInfo &info)
{
    broken(ErrorCode::NotConnected, info, u"Verbindung zum Server "_s + m_where + u" unterbrochen"_s);
}

void Connection::broken(int number, const CallInfo &info, const QString &why)
{
    close();
    throw Error(number, why + u" ("_s + describe(info) + u')');
}

void Connection::write(const CallInfo &info)
{
    const qsizetype body = m_out.size() - 4;
    if (body > qsizetype(wire::MaxFrame))
        throw Error(ErrorCode::FrameTooLarge,
                    u"Anfrage zu groß (%1 Bytes, höchstens %2) ("_s.arg(body).arg(wire::MaxFrame) + describe(info)
                        + u')');
    qToBigEndian<quint32>(quint32(body), m_out.data());
#if defined(Q_OS_UNIX)
    if (m_blocking)
        return sendAll(info);
#endif
    if (m_socket.write(m_out) != m_out.size())
        lost(info);
    // Unbuffered, the socket hands the kernel what it takes at once and keeps the rest for
    // an event loop this synchronous client does not run: a request larger than the send
    // buffer (a long list over a slow line) would stay half sent until the call timed out.
    const QDeadlineTimer deadline(m_callTimeout);
    while (m_socket.bytesToWrite() > 0) {
        if (m_socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
            continue;
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            lost(info);
        if (deadline.hasExpired())
            broken(ErrorCode::Timeout, info,
                   u"Anfrage an den Server "_s + m_where + u" nicht innerhalb von %1 ms gesendet"_s.arg(m_callTimeout));
    }
}

#if defined(Q_OS_UNIX)
// A plain blocking socket straight to and from the kernel: the socket is unbuffered, and
// the layers of Qt's device, TLS socket, TCP socket and socket engine cost a small call
// more than its system call.
void Connection::sendAll(const CallInfo &info)
{
    const int fd = int(m_socket.socketDescriptor());
    // A send that the server does not take must not hold the caller for good either.
    if (m_sendTimeout != qMax(0, m_callTimeout))
        setSocketTimeout(fd, SO_SNDTIMEO, m_callTimeout, m_sendTimeout);
    const QDeadlineTimer deadline(m_callTimeout);
    for (qsizetype sent = 0; sent < m_out.size();) {
        const ssize_t n = ::send(fd, m_out.constData() + sent, size_t(m_out.size() - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            lost(info);
        if (sent < m_out.size() && deadline.hasExpired())
            broken(ErrorCode::Timeout, info,
                   u"Anfrage an den Server "_s + m_where + u" nicht innerhalb von %1 ms gesendet"_s.arg(m_callTimeout));
    }
}
#endif

// What has come, up to `max` bytes: 0 when a blocking read's timeout passed, -1 at the end of
// the stream or on an error.
qint64 Connection::readSome(char *to, qint64 max)
{
#if defined(Q_OS_UNIX)
    if (m_blocking) {
        for (;;) {
            const ssize_t n = ::recv(int(m_socket.socketDescriptor()), to, size_t(max), 0);
            if (n > 0)
                return n;
            if (n < 0 && errno == EINTR)
                continue;
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        }
    }
#endif
    return m_socket.read(to, max);
}

CborReader &Connection::exchange(const CallInfo &info, int timeoutMsec)
{
    m_answered = false;
    if (!m_connected)
        throw Error(ErrorCode::NotConnected, u"Keine Verbindung zum Server ("_s + describe(info) + u')');
    // Before this request goes out: should a pipelined save have failed, this one (a TCOMMIT
    // perhaps) must not be sent.
    collect();
    write(info);
    const qsizetype frameEnd = receiveFrame(info, timeoutMsec);
    if (m_inHave > m_inEnd) // strictly one answer a request: anything more puts us out of step
        broken(ErrorCode::Protocol, info, u"Unerwartete Daten vom Server "_s + m_where);
    ++m_roundTrips;
    if (std::optional<Error> e = answer(info, m_request, frameEnd)) {
        m_answered = true;
        throw *e;
    }
    return m_reader;
}

void Connection::send(const CallInfo &info, std::function<void(CborReader &)> answered, bool raising)
{
    // Answers pile up in the socket buffers until collected; a bound keeps them small.
    constexpr size_t MaxPipelined = 4096;
    if (!m_connected)
        throw Error(ErrorCode::NotConnected, u"Keine Verbindung zum Server ("_s + describe(info) + u')');
    // Not for a request nobody waits for: a dropped result set's close must not swallow a
    // failure that the next call is to raise.
    if (raising && m_pipelined.size() >= MaxPipelined)
        collect();
    write(info);
    m_pipelined.push_back({m_request, info.operation, info.className.toString(), info.id.toString(),
                           std::move(answered), raising});
}

void Connection::collect()
{
    if (m_pipelined.empty())
        return;
    std::vector<Pipelined> batch;
    batch.swap(m_pipelined);
    std::optional<Error> first;
    for (size_t i = 0; i < batch.size() && m_connected; ++i) {
        Pipelined &p = batch[i];
        const CallInfo info{p.operation, p.className, {}, p.id};
        const qsizetype frameEnd = receiveFrame(info, m_callTimeout);
        if (i == 0)
            ++m_roundTrips; // the batch is one wait for the network
        if (i + 1 == batch.size() && m_inHave > m_inEnd)
            broken(ErrorCode::Protocol, info, u"Unerwartete Daten vom Server "_s + m_where);
        if (std::optional<Error> e = answer(info, p.number, frameEnd)) {
            if (p.raising && !first)
                first = std::move(e); // the rest is read too, to stay in step
        } else if (p.answered) {
            try {
                p.answered(m_reader);
            } catch (const Error &e) { // a malformed answer: raised as an unpipelined one would be
                if (!first)
                    first = e;
            }
        }
    }
    if (first) {
        m_answered = true;
        throw *first;
    }
}

void Connection::discardPipelined() noexcept
{
    try {
        collect();
    } catch (...) {
    }
}

qsizetype Connection::receiveFrame(const CallInfo &info, int timeoutMsec)
{
    // The frame last read is done with. What came after it (further pipelined answers) stays
    // where it is while it holds a whole frame, and moves to the front when more must be read.
    m_inStart = m_inEnd;
    const qsizetype left = m_inHave - m_inStart;
    const bool whole = left >= 4 && qFromBigEndian<quint32>(m_in.constData() + m_inStart) <= quint32(left - 4);
    if (!whole) {
        if (left > 0)
            std::memmove(m_in.data(), m_in.constData() + m_inStart, size_t(left));
        m_inHave = left;
        m_inStart = m_inEnd = 0;
    }
    if (m_inHave == 0 && m_in.size() > LargeInput)
        m_in = QByteArray(); // one huge answer must not pin its memory for the connection's life
    if (m_in.size() < SmallInput)
        m_in.resize(SmallInput);

    QDeadlineTimer deadline(timeoutMsec > 0 ? QDeadlineTimer(timeoutMsec) : QDeadlineTimer(QDeadlineTimer::Forever));
    auto fail = [&]() {
        if (deadline.hasExpired() && m_socket.state() == QAbstractSocket::ConnectedState)
            broken(ErrorCode::Timeout, info,
                   u"Keine Antwort vom Server "_s + m_where + u" innerhalb von %1 ms"_s.arg(timeoutMsec));
        lost(info);
    };
    // Read whatever has come, as much as fits, until the frame is whole: one read a wake-up.
    // Reads happen only with the frame at the front (m_inStart 0).
    qsizetype frameEnd = -1; // 4 + length, once the length is in; counted from m_inStart
    for (;;) {
        const qsizetype have = m_inHave - m_inStart;
        if (frameEnd < 0 && have >= 4) {
            const quint32 length = qFromBigEndian<quint32>(m_in.constData() + m_inStart);
            if (length > wire::MaxFrame)
                broken(ErrorCode::FrameTooLarge, info, u"Antwort des Servers zu groß (%1 Bytes)"_s.arg(length));
            frameEnd = 4 + qsizetype(length);
        }
        if (frameEnd >= 0 && have >= frameEnd)
            break;
        // Grows with what arrives, not with what the length announces.
        if (m_inHave == m_in.size())
            m_in.resize(frameEnd >= 0 ? qMax(m_in.size() + 1, qMin(frameEnd, 2 * m_in.size())) : 2 * m_in.size());
        if (!waitForAnswer(deadline))
            fail();
        const qint64 n = readSome(m_in.data() + m_inHave, m_in.size() - m_inHave);
        if (n < 0)
            lost(info);
        if (n == 0 && deadline.hasExpired()) // a blocking read's timeout
            fail();
        m_inHave += n;
    }
    m_inEnd = m_inStart + frameEnd;
    return frameEnd;
}

std::optional<Error> Connection::answer(const CallInfo &info, qint64 number, qsizetype frameEnd)
{
    // The answer names its request first. One for another request (a late second answer to
    // an earlier one) means the two ends are out of step: it is dropped with the connection.
    m_reader.reset(m_in.constData() + m_inStart + 4, frameEnd - 4);
    bool matched = false;
    for (auto c = m_reader.enterMap(); m_reader.more(c);) {
        const QByteArrayView key = m_reader.textView();
        if (key == "n") {
            matched = m_reader.integer() == number;
            if (!matched)
                broken(ErrorCode::Protocol, info, u"Antwort auf eine andere Anfrage vom Server "_s + m_where);
            continue;
        }
        if (key == "ok") {
            if (!matched)
                broken(ErrorCode::Protocol, info, u"Antwort ohne Anfragenummer vom Server "_s + m_where);
            return std::nullopt;
        }
        if (key == "err") {
            // Only an unreadable request is answered without its number; the server closes then.
            auto e = m_reader.enterArray();
            int errorNumber = ErrorCode::Internal;
            QString description;
            if (m_reader.more(e))
                errorNumber = int(m_reader.integer());
            if (m_reader.more(e))
                description = m_reader.text();
            const bool closing = errorNumber >= ErrorCode::Protocol && errorNumber <= ErrorCode::UnknownNamespace;
            if (!matched && !closing)
                broken(ErrorCode::Protocol, info, u"Antwort ohne Anfragenummer vom Server "_s + m_where);
            // After these the server closes its end; so do we, so that IsConnected says so.
            if (closing)
                close();
            return Error(errorNumber, description);
        }
        m_reader.skip();
    }
    throw Error(ErrorCode::Protocol, u"Antwort des Servers ohne Ergebnis ("_s + describe(info) + u')');
}

} // namespace factory
