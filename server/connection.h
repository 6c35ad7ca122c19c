#pragma once
// One client connection: its own thread, socket, database connection and job, so a slow
// call of one job does not hold up the others.

#include "server/servercontext.h"

#include <QThread>

namespace server {

class ConnectionThread final : public QThread
{
    Q_OBJECT
public:
    ConnectionThread(ServerContext &server, qintptr socketDescriptor, int jobNumber, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ConnectionThread)

    int jobNumber() const { return m_jobNumber; }

protected:
    void run() override;

private:
    ServerContext &m_server;
    qintptr m_socketDescriptor;
    int m_jobNumber;
};

} // namespace server
