#pragma once
// The listening socket: hands every accepted connection to a thread of its own.

#include "server/servercontext.h"

#include <QSet>
#include <QTcpServer>

namespace server {

class ConnectionThread;

class Server final : public QTcpServer
{
    Q_OBJECT
public:
    explicit Server(ServerContext &context, QObject *parent = nullptr);
    ~Server() override;
    Q_DISABLE_COPY_MOVE(Server)

    // Stops listening and ends every job (open transactions are rolled back).
    void shutdown();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    ServerContext &m_context;
    int m_stop[2] = {-1, -1}; // written once at shutdown: wakes every connection thread
    QSet<ConnectionThread *> m_threads;
};

} // namespace server
