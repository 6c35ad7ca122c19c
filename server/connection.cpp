#include "server/connection.h"

#include "factory/wire.h"
#include "server/job.h"
#include "server/link.h"
#include "server/log.h"
#include "server/tlsgate.h"

#include <QCborMap>
#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

// The client closed or reset its end (what it may still send does not count).
bool peerGone(int fd)
{
    pollfd p = {fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

} // namespace

ConnectionThread::ConnectionThread(ServerContext &server, qintptr socketDescriptor, int jobNumber, int stopFd,
                                   std::function<void(int)> finished)
    : m_server(server), m_fd(int(socketDescriptor)), m_jobNumber(jobNumber), m_stopFd(stopFd),
      m_finished(std::move(finished))
{
}

ConnectionThread::~ConnectionThread()
{
    if (m_thread.joinable())
        m_thread.join();
}

void ConnectionThread::stop()
{
    std::lock_guard lock(m_gate.mutex);
    m_gate.stopping = true;
    if (m_gate.blocked)
        ::shutdown(m_fd, SHUT_RD);
}

void ConnectionThread::start() { m_thread = std::thread([this] { run(); }); }

void ConnectionThread::run()
{
    try {
        serve();
    } catch (...) {
        // Out of memory or worse: this connection ends, the server goes on.
        log::line(u"job %1: connection ended by an internal failure"_s.arg(m_jobNumber));
    }
    log::line(u"job %1: connection closed"_s.arg(m_jobNumber));
#if defined(__GLIBC__)
    // A connection's large frames were freed into this thread's arena; give them back to the
    // system, or a burst of big frames stays with the process for good.
    ::malloc_trim(0);
#endif
    m_finished(m_jobNumber);
}

void ConnectionThread::serve()
{
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    log::line(u"job %1: connection from %2 opened"_s.arg(m_jobNumber).arg(peerOf(m_fd)));

    // Blocking: the wait between calls is recv alone (see ReceiveGate); every send and
    // every wait with a time limit says MSG_DONTWAIT or polls.
    if (const int flags = ::fcntl(m_fd, F_GETFL); flags >= 0 && (flags & O_NONBLOCK))
        ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
    Link link(m_fd, m_stopFd, &m_gate);
    Job job(m_server, m_jobNumber);
    job.setPeerGone([fd = m_fd] { return peerGone(fd); });
    wire::FrameReader reader;
    wire::Request request; // kept, with its buffers, from one frame to the next
    constexpr qsizetype ReadSize = 64 * 1024;
    // A stranger may not hold a connection, its thread and its memory for long.
    const QDeadlineTimer helloDeadline(m_server.helloTimeoutMsec);
    qsizetype beforeHello = 0;
    auto helloTimeLeft = [&] { return int(qMax<qint64>(0, helloDeadline.remainingTime())); };
    bool open = true;
    while (open) {
        const bool stranger = !job.saidHello();
        qsizetype n = 0;
        const Link::Read read = stranger && helloDeadline.hasExpired()
                                    ? Link::Read::Timeout
                                    : link.receive(reader.space(ReadSize), ReadSize, n,
                                                   stranger ? helloTimeLeft() : job.idleWaitMsec());
        if (read == Link::Read::Timeout && !stranger) {
            job.idleTimeout();
            continue;
        }
        if (read == Link::Read::Timeout) {
            log::line(u"job %1: error 1000, no hello within %2 ms; closing"_s.arg(m_jobNumber)
                          .arg(m_server.helloTimeoutMsec));
            link.answerAndClose(wire::encode(wire::error(
                factory::ErrorCode::Protocol,
                u"Keine Anmeldung ('hello') innerhalb von %1 ms"_s.arg(m_server.helloTimeoutMsec))));
            break;
        }
        if (read != Link::Read::Data)
            break;
        if (stranger && (beforeHello += n) > ServerContext::MaxBytesBeforeHello) {
            log::line(u"job %1: error 1000, more than 64 KiB before the hello; closing"_s.arg(m_jobNumber));
            link.answerAndClose(wire::encode(
                wire::error(factory::ErrorCode::Protocol, u"Vor der Anmeldung ('hello') höchstens 64 KiB"_s)));
            break;
        }
        reader.commit(n);
        for (;;) {
            const wire::FrameReader::Status status = reader.next(request);
            if (status == wire::FrameReader::Status::NeedMore)
                break;
            if (status == wire::FrameReader::Status::TooLarge) {
                log::line(u"job %1: error 1001, frame larger than 16 MiB; closing"_s.arg(m_jobNumber));
                link.answerAndClose(wire::encode(
                    wire::error(factory::ErrorCode::FrameTooLarge, u"Nachricht größer als 16 MiB"_s)));
                open = false;
                break;
            }
            if (status == wire::FrameReader::Status::Malformed) {
                log::line(u"job %1: error 1000, malformed frame; closing"_s.arg(m_jobNumber));
                link.answerAndClose(wire::encode(
                    wire::error(factory::ErrorCode::Protocol, u"Nachricht ist keine gültige CBOR-Zuordnung"_s)));
                open = false;
                break;
            }
            if (m_server.tls && !link.encrypted()) {
                bool over = false;
                if (tlsgate::plainHello(*m_server.tls, link, request, reader.buffered(), m_jobNumber,
                                        helloTimeLeft(), over)) {
                    open = !over;
                    break;
                }
            }
            bool closeAfter = false;
            const QByteArray &answer = job.handle(request, closeAfter);
            if (closeAfter) {
                link.answerAndClose(answer);
                open = false;
                break;
            }
            // The runs a committed call asked for are recorded before its answer goes out:
            // a client that looks at the run records right after the answer finds them, and
            // a client gone before its answer does not lose them.
            job.afterAnswer();
            const bool sent = link.sendAll(answer);
            job.answerSent();
            if (!sent) {
                open = false;
                break;
            }
        }
    }
    job.close();
}

} // namespace server
