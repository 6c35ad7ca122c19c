#pragma once
// The byte stream of one client connection, for the connection's own thread: the plain
// socket, or TLS over it once the plain hello has agreed to it. Blocking; every wait also
// ends when the server stops.

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>

#include <memory>
#include <mutex>

class QSslSocket;

namespace server {

// Lets the server's shutdown end a receive that waits without a time limit: such a receive
// blocks in recv (one system call, no poll before it), and a shutdown of the socket's read
// side is what wakes it. The mutex keeps that shutdown off a descriptor already closed.
struct ReceiveGate
{
    std::mutex mutex;
    bool blocked = false;  // in recv, the descriptor open
    bool stopping = false; // the server stops: no further blocking receive
};

class Link final
{
public:
    // Takes the socket over: closed with the link. gate: see ReceiveGate (may be null).
    Link(int fd, int stopFd, ReceiveGate *gate = nullptr);
    ~Link();
    Q_DISABLE_COPY_MOVE(Link)

    enum class Read { Data, Closed, Timeout, Stop };
    // Waits up to msec (-1: no limit) for bytes and reads what has come, at most size, into `into`.
    Read receive(char *into, qsizetype size, qsizetype &count, int msec);
    // The whole frame; false when the peer is gone or the server stops first.
    bool sendAll(const QByteArray &bytes);
    // Answers one last time and ends the connection without destroying that answer.
    void answerAndClose(const QByteArray &frame);
    // The server side of a TLS handshake over the socket; false with `why` when it does not
    // succeed within msec.
    bool startTls(const QSslConfiguration &config, int msec, QString &why);
    bool encrypted() const { return bool(m_tls); }
    int fd() const { return m_fd; }

private:
    bool stopped() const;
    Read blockingReceive(char *into, qsizetype size, qsizetype &count);

    int m_fd;
    int m_stopFd;
    ReceiveGate *m_gate;
    std::unique_ptr<QSslSocket> m_tls;
};

} // namespace server
