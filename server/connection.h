#pragma once
// One client connection: its own thread, socket, database connection and job, so a slow
// call of one job does not hold up the others. The thread reads and writes the socket
// directly (poll, recv, send): a request costs three system calls and no event loop.

#include "server/servercontext.h"

#include <QThread>

namespace server {

class ConnectionThread final : public QThread
{
    Q_OBJECT
public:
    // stopFd: becomes readable when the server shuts down.
    ConnectionThread(ServerContext &server, qintptr socketDescriptor, int jobNumber, int stopFd,
                     QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ConnectionThread)

protected:
    void run() override;

private:
    void serve();

    ServerContext &m_server;
    int m_fd;
    int m_jobNumber;
    int m_stopFd;
};

} // namespace server
