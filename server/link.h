#pragma once
// The byte stream of one client connection, for the connection's own thread: the plain
// socket, or TLS over it once the plain hello has agreed to it. Blocking; every wait also
// ends when the server stops.

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>

#include <memory>

class QSslSocket;

namespace server {

class Link final
{
public:
    // Takes the socket over: closed with the link.
    Link(int fd, int stopFd);
    ~Link();
    Q_DISABLE_COPY_MOVE(Link)

    enum class Read { Data, Closed, Timeout, Stop };
    // Waits up to msec (-1: no limit) for bytes and reads what has come into `into`.
    Read receive(QByteArray &into, qsizetype &count, int msec);
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

    int m_fd;
    int m_stopFd;
    std::unique_ptr<QSslSocket> m_tls;
};

} // namespace server
