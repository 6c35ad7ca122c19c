#pragma once
// The listening socket: hands every accepted connection to a thread of its own, up to the
// connection cap; beyond it, and when the process runs out of file descriptors, the new
// connection is refused with an error and the others are served on.

#include "server/refusals.h"
#include "server/servercontext.h"

#include <QTcpServer>

#include <map>
#include <memory>

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
    void onAcceptError(QAbstractSocket::SocketError error);

    ServerContext &m_context;
    int m_stop[2] = {-1, -1}; // written once at shutdown: wakes every connection thread
    int m_spare = -1;         // a descriptor kept free, so that a connection can still be refused
    std::map<int, std::unique_ptr<ConnectionThread>> m_connections; // by job number
    Refusals m_refusals;
};

} // namespace server
