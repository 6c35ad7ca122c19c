#include "server/server.h"

#include "server/connection.h"

#include <QPointer>

#include <fcntl.h>
#include <unistd.h>

namespace server {

Server::Server(ServerContext &context, QObject *parent) : QTcpServer(parent), m_context(context)
{
    if (::pipe2(m_stop, O_CLOEXEC) != 0)
        qFatal("varelo-server: no pipe for the shutdown signal");
}

Server::~Server()
{
    shutdown();
    ::close(m_stop[0]);
    ::close(m_stop[1]);
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    auto *thread = new ConnectionThread(m_context, socketDescriptor, m_context.nextJob++, m_stop[0], this);
    m_threads.insert(thread);
    connect(thread, &QThread::finished, this, [this, guard = QPointer<ConnectionThread>(thread)] {
        if (!guard)
            return; // already ended by shutdown()
        m_threads.remove(guard.data());
        guard->deleteLater();
    });
    thread->start();
}

void Server::shutdown()
{
    close();
    const QSet<ConnectionThread *> threads = m_threads;
    if (!threads.isEmpty()) {
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(m_stop[1], &byte, 1);
    }
    for (ConnectionThread *thread : threads) {
        thread->wait();
        m_threads.remove(thread);
        delete thread;
    }
}

} // namespace server
