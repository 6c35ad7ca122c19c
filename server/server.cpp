#include "server/server.h"

#include "factory/error.h"
#include "server/connection.h"
#include "server/log.h"

#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace server {

namespace {
int openSpare() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }
} // namespace

Server::Server(ServerContext &context, QObject *parent) : QTcpServer(parent), m_context(context)
{
    if (::pipe2(m_stop, O_CLOEXEC) != 0)
        qFatal("varelo-server: no pipe for the shutdown signal");
    m_spare = openSpare();
    connect(this, &QTcpServer::acceptError, this, &Server::onAcceptError);
}

Server::~Server()
{
    shutdown();
    ::close(m_stop[0]);
    ::close(m_stop[1]);
    if (m_spare >= 0)
        ::close(m_spare);
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    const int fd = int(socketDescriptor);
    if (int(m_connections.size()) >= m_context.maxConnections) {
        log::line(u"varelo-server: connection refused, %1 connections already open"_s.arg(m_connections.size()));
        m_refusals.refuse(fd, factory::ErrorCode::Busy,
                          u"Der Server nimmt keine weitere Verbindung an (höchstens %1 gleichzeitig)"_s.arg(
                              m_context.maxConnections),
                          true);
        return;
    }
    const int job = m_context.nextJob++;
    auto connection = std::make_unique<ConnectionThread>(m_context, socketDescriptor, job, m_stop[0], [this](int ended) {
        // On the connection's thread: the object is removed (and its thread joined) here.
        QMetaObject::invokeMethod(this, [this, ended] { m_connections.erase(ended); }, Qt::QueuedConnection);
    });
    try {
        connection->start();
    } catch (const std::system_error &) {
        log::line(u"job %1: connection refused, no thread for it"_s.arg(job));
        m_refusals.refuse(fd, factory::ErrorCode::Busy, u"Der Server nimmt zur Zeit keine Verbindung an"_s, false);
        return;
    }
    m_connections.emplace(job, std::move(connection));
}

// Out of descriptors the pending connection cannot even be accepted and would wait in the
// backlog: the spare descriptor makes room to accept it and refuse it at once.
void Server::onAcceptError(QAbstractSocket::SocketError error)
{
    int fd = -1;
    if (error == QAbstractSocket::SocketResourceError) {
        if (m_spare >= 0) {
            ::close(m_spare);
            m_spare = -1;
        }
        fd = ::accept4(socketDescriptor(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            log::line(u"varelo-server: connection refused, out of file descriptors (%1 connections open)"_s.arg(
                m_connections.size()));
            m_refusals.refuse(fd, factory::ErrorCode::Busy, u"Der Server nimmt zur Zeit keine Verbindung an"_s,
                              false);
        }
        m_spare = openSpare();
    }
    if (fd >= 0 && m_spare >= 0)
        resumeAccepting();
    else // nothing freed yet: try again in a moment rather than spin
        QTimer::singleShot(100, this, [this] { resumeAccepting(); });
}

void Server::shutdown()
{
    close();
    if (!m_connections.empty()) {
        for (auto &[job, connection] : m_connections)
            connection->stop();
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(m_stop[1], &byte, 1);
    }
    m_connections.clear(); // waits for every connection's thread
}

} // namespace server
