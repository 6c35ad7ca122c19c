#pragma once
// A client that speaks the wire protocol frame by frame, for what the factory would never
// send: broken frames, foreign handles, exact batch sizes. Blocking; usable from any thread.
// With `tls` set, connectTo() also goes through the plain hello and the TLS handshake, so
// everything after it travels encrypted.

#include "factory/error.h"
#include "factory/wire.h"

#include <QCborArray>
#include <QCborMap>
#include <QDeadlineTimer>
#include <QSslSocket>
#include <QtEndian>

class RawClient
{
public:
    static inline bool tls = false;

    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!m_socket.waitForConnected(5000))
            return false;
        return !tls || startTls();
    }
    bool connectPlain(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return m_socket.waitForConnected(5000);
    }
    // The plain hello that asks for TLS, then the handshake.
    bool startTls()
    {
        const QCborMap offer = request({{QStringLiteral("op"), QStringLiteral("hello")},
                                        {QStringLiteral("v"), 1},
                                        {QStringLiteral("ns"), QStringLiteral("VARELO")},
                                        {QStringLiteral("tls"), true}});
        if (offer.value(QStringLiteral("ok")).toMap().value(QStringLiteral("tls")) != QCborValue(true))
            return false;
        m_socket.setPeerVerifyMode(QSslSocket::QueryPeer);
        m_socket.startClientEncryption();
        return m_socket.waitForEncrypted(5000);
    }

    // hello; answers the job number, 0 on failure.
    int hello(const QString &ns = QStringLiteral("VARELO"))
    {
        const QCborMap answer = request({{QStringLiteral("op"), QStringLiteral("hello")},
                                         {QStringLiteral("v"), 1},
                                         {QStringLiteral("ns"), ns}});
        return int(answer.value(QStringLiteral("ok")).toMap().value(QStringLiteral("job")).toInteger());
    }
    // Connected, hello said and signed in as the demo administrator, as every client works.
    bool open(quint16 port, const QString &ns = QStringLiteral("VARELO")) { return openAnonymous(port, ns) && signIn(); }
    // Connected and hello said, but nobody signed in.
    bool openAnonymous(quint16 port, const QString &ns = QStringLiteral("VARELO"))
    {
        return connectTo(port) && hello(ns) > 0;
    }
    // The password check that signs the connection in; answers the code found, "" for none.
    QString checkPassword(const QString &password, const QString &tenant, const QString &code, int *error = nullptr)
    {
        const QCborMap rows = query(QStringLiteral("VR.ParPersEdv"), QStringLiteral("UserViaPasswort"),
                                    {password, tenant, code}, 10, error);
        return rows.value(QStringLiteral("rows")).toArray().at(0).toArray().at(0).toString();
    }
    bool signIn(const QString &tenant = QStringLiteral("1"))
    {
        return checkPassword(tenant == u"2" ? QStringLiteral("admin2") : QStringLiteral("admin"), tenant,
                             QStringLiteral("ADM")) == u"ADM";
    }

    void sendBytes(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
        while (m_socket.bytesToWrite() > 0 && m_socket.waitForBytesWritten(5000)) {
        }
    }
    void send(const QCborMap &message) { sendBytes(wire::encode(message)); }

    // The next answer; an empty map when the connection closed or nothing came in time.
    QCborMap receive(int msec = 15000)
    {
        QDeadlineTimer deadline(msec);
        for (;;) {
            QCborMap message;
            const auto status = m_reader.next(message);
            if (status == wire::FrameReader::Status::Message)
                return message;
            if (status != wire::FrameReader::Status::NeedMore)
                return {};
            if (m_socket.state() != QAbstractSocket::ConnectedState && m_socket.bytesAvailable() == 0)
                return {};
            if (deadline.hasExpired())
                return {};
            if (m_socket.bytesAvailable() == 0)
                m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            m_reader.append(m_socket.readAll());
        }
    }
    QCborMap request(const QCborMap &message)
    {
        send(message);
        return receive();
    }

    // One-call helpers: the answer's ok value, or the error number in *error.
    QCborValue call(const QString &cls, const QString &method, const QCborArray &args, int *error = nullptr)
    {
        return result(request({{QStringLiteral("op"), QStringLiteral("call")},
                               {QStringLiteral("cls"), cls},
                               {QStringLiteral("m"), method},
                               {QStringLiteral("a"), args}}),
                      error);
    }
    QString xecute(const QString &line, int *error = nullptr)
    {
        return call(QStringLiteral("VR.Windows"), QStringLiteral("Xecute"), {line}, error).toString();
    }
    QCborMap query(const QString &cls, const QString &q, const QCborArray &args, int batch, int *error = nullptr)
    {
        return result(request({{QStringLiteral("op"), QStringLiteral("query")},
                               {QStringLiteral("cls"), cls},
                               {QStringLiteral("q"), q},
                               {QStringLiteral("a"), args},
                               {QStringLiteral("b"), batch}}),
                      error)
            .toMap();
    }
    QCborMap next(qint64 handle, int batch, int *error = nullptr)
    {
        return result(request({{QStringLiteral("op"), QStringLiteral("next")},
                               {QStringLiteral("h"), handle},
                               {QStringLiteral("b"), batch}}),
                      error)
            .toMap();
    }

    static int errorOf(const QCborMap &answer)
    {
        return int(answer.value(QStringLiteral("err")).toArray().at(0).toInteger());
    }
    static QString descriptionOf(const QCborMap &answer)
    {
        return answer.value(QStringLiteral("err")).toArray().at(1).toString();
    }

    // True once the server has closed the connection (within msec).
    bool closedByServer(int msec = 5000)
    {
        QDeadlineTimer deadline(msec);
        while (m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            m_socket.readAll();
        }
        return m_socket.state() != QAbstractSocket::ConnectedState;
    }
    void abort() { m_socket.abort(); }
    QSslSocket &socket() { return m_socket; }

private:
    static QCborValue result(const QCborMap &answer, int *error)
    {
        if (error)
            *error = answer.contains(QStringLiteral("ok")) ? 0 : (answer.isEmpty() ? -1 : errorOf(answer));
        return answer.value(QStringLiteral("ok"));
    }

    QSslSocket m_socket;
    wire::FrameReader m_reader;
};

inline QByteArray rawFrame(const QByteArray &body)
{
    QByteArray frame(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), frame.data());
    return frame + body;
}
