#include "server/link.h"

#include <QDeadlineTimer>
#include <QSslSocket>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace server {

namespace {

enum class Wait { Ready, Stop, Timeout };

// Waits until fd is ready for `events` or the server stops.
Wait waitFor(int fd, short events, int stopFd, int msec)
{
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, msec);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return Wait::Timeout;
        if (n < 0 || (fds[1].revents & POLLIN))
            return Wait::Stop;
        return Wait::Ready;
    }
}

int remaining(const QDeadlineTimer &deadline)
{
    return deadline.isForever() ? -1 : int(qMax<qint64>(0, deadline.remainingTime()));
}

} // namespace

Link::Link(int fd, int stopFd, ReceiveGate *gate) : m_fd(fd), m_stopFd(stopFd), m_gate(gate) {}

Link::~Link()
{
    if (m_tls)
        m_tls.reset(); // the socket owns the descriptor now
    else
        ::close(m_fd);
}

bool Link::stopped() const { return waitFor(m_stopFd, POLLIN, m_stopFd, 0) != Wait::Timeout; }

// The wait of a connection between its calls: recv alone, woken by data, the client's close
// or the server's shutdown (see ReceiveGate).
Link::Read Link::blockingReceive(char *into, qsizetype size, qsizetype &count)
{
    for (;;) {
        {
            std::lock_guard lock(m_gate->mutex);
            if (m_gate->stopping)
                return Read::Stop;
            m_gate->blocked = true;
        }
        const ssize_t n = ::recv(m_fd, into, size_t(size), 0);
        const int error = errno;
        bool stopping;
        {
            std::lock_guard lock(m_gate->mutex);
            m_gate->blocked = false;
            stopping = m_gate->stopping;
        }
        if (n > 0) {
            count = qsizetype(n);
            return Read::Data;
        }
        if (stopping)
            return Read::Stop;
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            // A socket left non-blocking: wait the usual way.
            const Wait wait = waitFor(m_fd, POLLIN, m_stopFd, -1);
            if (wait == Wait::Stop)
                return Read::Stop;
            continue;
        }
        return Read::Closed;
    }
}

Link::Read Link::receive(char *into, qsizetype size, qsizetype &count, int msec)
{
    if (msec < 0 && !m_tls && m_gate)
        return blockingReceive(into, size, count);
    const QDeadlineTimer deadline(msec < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msec));
    for (;;) {
        if (m_tls && m_tls->bytesAvailable() > 0) {
            count = qsizetype(m_tls->read(into, size));
            return count > 0 ? Read::Data : Read::Closed;
        }
        if (m_tls && m_tls->state() != QAbstractSocket::ConnectedState)
            return Read::Closed;
        const Wait wait = waitFor(m_fd, POLLIN, m_stopFd, remaining(deadline));
        if (wait == Wait::Timeout)
            return Read::Timeout;
        if (wait == Wait::Stop)
            return Read::Stop;
        if (m_tls) {
            m_tls->waitForReadyRead(0); // takes in and decrypts what came, maybe half a record
            continue;
        }
        const ssize_t n = ::recv(m_fd, into, size_t(size), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return Read::Closed;
        count = qsizetype(n);
        return Read::Data;
    }
}

bool Link::sendAll(const QByteArray &bytes)
{
    if (m_tls) {
        if (m_tls->write(bytes) != bytes.size())
            return false;
        for (;;) {
            m_tls->flush();
            if (m_tls->bytesToWrite() == 0 && m_tls->encryptedBytesToWrite() == 0)
                return m_tls->state() == QAbstractSocket::ConnectedState;
            if (m_tls->state() != QAbstractSocket::ConnectedState)
                return false;
            if (waitFor(m_fd, POLLOUT, m_stopFd, -1) != Wait::Ready)
                return false;
        }
    }
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(m_fd, data, size_t(left), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            left -= n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A client that does not read holds up only its own job.
            if (waitFor(m_fd, POLLOUT, m_stopFd, -1) != Wait::Ready)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// The write side is shut first and what the client still sends is read away for a moment:
// closing a socket with unread input would reset the connection and could destroy the
// answer before the client has read it. Under TLS the raw bytes are read away alike.
void Link::answerAndClose(const QByteArray &frame)
{
    if (!sendAll(frame))
        return;
    ::shutdown(m_fd, SHUT_WR);
    QDeadlineTimer deadline(2000);
    char sink[16384];
    while (!deadline.hasExpired()) {
        if (waitFor(m_fd, POLLIN, m_stopFd, int(qMax<qint64>(1, deadline.remainingTime()))) != Wait::Ready)
            break;
        const ssize_t n = ::recv(m_fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            break;
    }
}

bool Link::startTls(const QSslConfiguration &config, int msec, QString &why)
{
    auto tls = std::make_unique<QSslSocket>();
    if (!tls->setSocketDescriptor(m_fd, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        why = tls->errorString();
        return false;
    }
    m_tls = std::move(tls);
    m_tls->setSslConfiguration(config);
    m_tls->startServerEncryption();
    const QDeadlineTimer deadline(msec);
    // In slices, so that a server that stops need not wait for a slow handshake.
    while (!m_tls->isEncrypted()) {
        if (m_tls->state() != QAbstractSocket::ConnectedState || deadline.hasExpired() || stopped()) {
            why = m_tls->errorString();
            return false;
        }
        m_tls->waitForEncrypted(qBound(1, remaining(deadline), 250));
    }
    return true;
}

} // namespace server
