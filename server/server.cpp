#include "server/server.h"

#include "server/connection.h"

#include <QPointer>

namespace server {

Server::Server(ServerContext &context, QObject *parent) : QTcpServer(parent), m_context(context) {}

Server::~Server() { shutdown(); }

void Server::incomingConnection(qintptr socketDescriptor)
{
    auto *thread = new ConnectionThread(m_context, socketDescriptor, m_context.nextJob++, this);
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
    for (ConnectionThread *thread : threads)
        thread->quit();
    for (ConnectionThread *thread : threads) {
        thread->wait();
        m_threads.remove(thread);
        delete thread;
    }
}

} // namespace server
