#include "server/connection.h"

#include "factory/wire.h"
#include "server/job.h"
#include "server/log.h"

#include <QCborMap>
#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace server {

namespace {

QString peerOf(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return u"?"_s;
    char host[INET6_ADDRSTRLEN] = {};
    quint16 port = 0;
    if (address.ss_family == AF_INET6) {
        const auto *a6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        ::inet_ntop(AF_INET6, &a6->sin6_addr, host, sizeof host);
        port = ntohs(a6->sin6_port);
    } else {
        const auto *a4 = reinterpret_cast<const sockaddr_in *>(&address);
        ::inet_ntop(AF_INET, &a4->sin_addr, host, sizeof host);
        port = ntohs(a4->sin_port);
    }
    return QString::fromLatin1(host) + u':' + QString::number(port);
}

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

// Sends the whole frame; false when the peer is gone or the server stops first.
bool sendAll(int fd, const QByteArray &bytes, int stopFd)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(fd, data, size_t(left), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            left -= n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A client that does not read holds up only its own job.
            if (waitFor(fd, POLLOUT, stopFd, -1) != Wait::Ready)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// Answers one last time and ends the connection. The write side is shut first and what the
// client still sends is read away for a moment: closing a socket with unread input would
// reset the connection and could destroy the answer before the client has read it.
void answerAndClose(int fd, const QByteArray &frame, int stopFd)
{
    if (sendAll(fd, frame, stopFd)) {
        ::shutdown(fd, SHUT_WR);
        QDeadlineTimer deadline(2000);
        char sink[16384];
        while (!deadline.hasExpired()) {
            if (waitFor(fd, POLLIN, stopFd, int(qMax<qint64>(1, deadline.remainingTime()))) != Wait::Ready)
                break;
            const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                break;
        }
    }
}

} // namespace

ConnectionThread::ConnectionThread(ServerContext &server, qintptr socketDescriptor, int jobNumber, int stopFd,
                                   QObject *parent)
    : QThread(parent), m_server(server), m_fd(int(socketDescriptor)), m_jobNumber(jobNumber), m_stopFd(stopFd)
{
}

void ConnectionThread::run()
{
    try {
        serve();
    } catch (...) {
        // Out of memory or worse: this connection ends, the server goes on.
        log::line(u"job %1: connection ended by an internal failure"_s.arg(m_jobNumber));
    }
    ::close(m_fd);
    log::line(u"job %1: connection closed"_s.arg(m_jobNumber));
}

void ConnectionThread::serve()
{
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    log::line(u"job %1: connection from %2 opened"_s.arg(m_jobNumber).arg(peerOf(m_fd)));

    Job job(m_server, m_jobNumber);
    wire::FrameReader reader;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    bool open = true;
    while (open) {
        if (waitFor(m_fd, POLLIN, m_stopFd, -1) != Wait::Ready)
            break;
        const ssize_t n = ::recv(m_fd, buffer.data(), size_t(buffer.size()), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            break;
        reader.append(QByteArrayView(buffer.constData(), n).toByteArray());
        for (;;) {
            QCborMap message;
            const wire::FrameReader::Status status = reader.next(message);
            if (status == wire::FrameReader::Status::NeedMore)
                break;
            if (status == wire::FrameReader::Status::TooLarge) {
                log::line(u"job %1: error 1001, frame larger than 16 MiB; closing"_s.arg(m_jobNumber));
                answerAndClose(m_fd, wire::encode(wire::error(factory::ErrorCode::FrameTooLarge,
                                                              u"Nachricht größer als 16 MiB"_s)),
                               m_stopFd);
                open = false;
                break;
            }
            if (status == wire::FrameReader::Status::Malformed) {
                log::line(u"job %1: error 1000, malformed frame; closing"_s.arg(m_jobNumber));
                answerAndClose(m_fd, wire::encode(wire::error(factory::ErrorCode::Protocol,
                                                              u"Nachricht ist keine gültige CBOR-Zuordnung"_s)),
                               m_stopFd);
                open = false;
                break;
            }
            bool closeAfter = false;
            const QByteArray answer = job.handle(message, closeAfter);
            if (closeAfter) {
                answerAndClose(m_fd, answer, m_stopFd);
                open = false;
                break;
            }
            if (!sendAll(m_fd, answer, m_stopFd)) {
                open = false;
                break;
            }
            job.afterAnswer();
        }
    }
    job.close();
}

} // namespace server
