#include "server/connection.h"

#include "factory/wire.h"
#include "server/job.h"
#include "server/log.h"

#include <QCborMap>
#include <QDeadlineTimer>
#include <QTcpSocket>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace server {

namespace {
// Answers one last time and ends the connection. The write side is shut first and what the
// client still sends is read away: closing a socket with unread input would reset the
// connection and could destroy the answer before the client has read it.
void answerAndClose(QTcpSocket &socket, const QByteArray &frame)
{
    socket.write(frame);
    QDeadlineTimer deadline(2000);
    while (socket.bytesToWrite() > 0 && !deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState)
        socket.waitForBytesWritten(int(deadline.remainingTime()));
    if (socket.state() == QAbstractSocket::ConnectedState) {
        ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
        while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
            socket.readAll();
            socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
    }
    socket.abort();
}
} // namespace

ConnectionThread::ConnectionThread(ServerContext &server, qintptr socketDescriptor, int jobNumber, QObject *parent)
    : QThread(parent), m_server(server), m_socketDescriptor(socketDescriptor), m_jobNumber(jobNumber)
{
}

void ConnectionThread::run()
{
    QTcpSocket socket;
    if (!socket.setSocketDescriptor(m_socketDescriptor)) {
        log::line(u"job %1: connection not taken: %2"_s.arg(m_jobNumber).arg(socket.errorString()));
        return;
    }
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QString peer = socket.peerAddress().toString() + u':' + QString::number(socket.peerPort());
    log::line(u"job %1: connection from %2 opened"_s.arg(m_jobNumber).arg(peer));

    Job job(m_server, m_jobNumber);
    wire::FrameReader reader;
    bool ended = false;

    auto onReadyRead = [&] {
        if (ended)
            return;
        reader.append(socket.readAll());
        for (;;) {
            QCborMap message;
            const wire::FrameReader::Status status = reader.next(message);
            if (status == wire::FrameReader::Status::NeedMore)
                return;
            if (status == wire::FrameReader::Status::TooLarge) {
                log::line(u"job %1: error 1001, frame larger than 16 MiB; closing"_s.arg(m_jobNumber));
                ended = true;
                answerAndClose(socket, wire::encode(wire::error(factory::ErrorCode::FrameTooLarge,
                                                                u"Nachricht größer als 16 MiB"_s)));
                quit();
                return;
            }
            if (status == wire::FrameReader::Status::Malformed) {
                log::line(u"job %1: error 1000, malformed frame; closing"_s.arg(m_jobNumber));
                ended = true;
                answerAndClose(socket, wire::encode(wire::error(factory::ErrorCode::Protocol,
                                                                u"Nachricht ist keine gültige CBOR-Zuordnung"_s)));
                quit();
                return;
            }
            bool closeAfter = false;
            const QByteArray answer = job.handle(message, closeAfter);
            if (closeAfter) {
                ended = true;
                answerAndClose(socket, answer);
                quit();
                return;
            }
            socket.write(answer);
            socket.flush();
            job.afterAnswer();
        }
    };
    connect(&socket, &QTcpSocket::readyRead, &socket, onReadyRead);
    connect(&socket, &QTcpSocket::disconnected, &socket, [this] { quit(); });
    if (socket.bytesAvailable() > 0)
        onReadyRead();
    if (!ended && socket.state() == QAbstractSocket::ConnectedState)
        exec();

    job.close();
    socket.abort();
    log::line(u"job %1: connection closed"_s.arg(m_jobNumber));
}

} // namespace server
