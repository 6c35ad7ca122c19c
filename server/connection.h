#pragma once
// One client connection: its own thread, socket, database connection and job, so a slow
// call of one job does not hold up the others. The thread reads and writes the socket
// directly (recv, send): a request costs two system calls and no event loop. It is
// a plain thread without an event dispatcher, so a connection costs one file descriptor
// until its hello: running out of them refuses connections instead of aborting the server.

#include "server/link.h"
#include "server/servercontext.h"

#include <functional>
#include <thread>

namespace server {

class ConnectionThread final
{
public:
    // stopFd: becomes readable when the server shuts down. finished: called on the
    // connection's thread as its last act.
    ConnectionThread(ServerContext &server, qintptr socketDescriptor, int jobNumber, int stopFd,
                     std::function<void(int jobNumber)> finished);
    ~ConnectionThread(); // waits for the thread
    Q_DISABLE_COPY_MOVE(ConnectionThread)

    // Throws std::system_error when no thread can be made; the socket is left to the caller then.
    void start();
    // The server stops: a connection waiting for its next request ends now (from the
    // server's thread; see ReceiveGate).
    void stop();

private:
    void run();
    void serve();

    ServerContext &m_server;
    int m_fd;
    int m_jobNumber;
    int m_stopFd;
    std::function<void(int)> m_finished;
    ReceiveGate m_gate;
    std::thread m_thread;
};

} // namespace server
