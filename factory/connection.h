#pragma once
// The wire connection shared by a factory and every object it made. Synchronous on the
// caller's thread: one request out, wait for its answer, no event loop.

#include "factory/cbor.h"
#include "factory/error.h"

#include <QByteArray>
#include <QHash>
#include <QDeadlineTimer>
#include <QString>
#include <QSslSocket>

#include <memory>

#include <optional>
#include <vector>

namespace factory {

class CertificatePins;
using wire::CborReader;
using wire::CborWriter;

struct Address
{
    QString host;
    quint16 port = 0;
    QString ns;
};
// "cn_iptcp:" host "[" port "]:" namespace; nullopt when malformed.
std::optional<Address> parseConnectionString(QStringView text);

// What a call was about, for the description of a failure. Only read when something fails,
// so the successful path builds no text.
struct CallInfo
{
    QLatin1StringView operation; // "OpenId", "Execute" ...
    QStringView className = {};
    QStringView member = {}; // method, query or property
    QStringView id = {};
};
QString describe(const CallInfo &info);

// Whether UTF-8 bytes spell `text`; answers false for anything not ASCII, which only costs
// the caller a fresh string.
inline bool sameAscii(QByteArrayView utf8, const QString &text)
{
    if (utf8.size() != text.size())
        return false;
    const char16_t *t = reinterpret_cast<const char16_t *>(text.constData());
    for (qsizetype i = 0; i < utf8.size(); ++i)
        if (uchar(utf8[i]) >= 0x80 || char16_t(uchar(utf8[i])) != t[i])
            return false;
    return true;
}

class Connection final
{
public:
    Connection();
    ~Connection();
    Q_DISABLE_COPY_MOVE(Connection)

    // False when no varelo-server answered there; an answered refusal (unknown namespace,
    // protocol version) throws, and so does a server failing the certificate check.
    bool open(const Address &address, int connectTimeoutMsec);
    void setCertificatePins(std::shared_ptr<CertificatePins> pins) { m_pins = std::move(pins); }
    bool isEncrypted() const { return m_socket.isEncrypted(); }
    void close();
    bool isOpen() const { return m_connected; } // no call has failed since open()
    // Also notices, without waiting, a server that has gone away since the last call.
    bool isConnected();

    int jobNumber() const { return m_job; }
    QString ns() const { return m_ns; }
    quint64 roundTrips() const { return m_roundTrips; }
    void setCallTimeout(int msec) { m_callTimeout = msec; }

    // A request: begin() starts the map and writes "op", the caller writes `pairs` more
    // key/value pairs, exchange() sends it and answers the reader placed on the "ok" value.
    // An "err" answer throws it; a broken connection throws 1004 and a missing answer
    // 1005, both leaving the connection closed.
    // The property names of the last object of a class, reused so that opening objects of
    // a class again allocates no names.
    std::vector<QString> &propertyNames(const QString &className) { return m_names[className]; }

    CborWriter &begin(QLatin1StringView op, int pairs);
    CborReader &exchange(const CallInfo &info);

private:
    CborReader &exchange(const CallInfo &info, int timeoutMsec);
    bool waitForAnswer(const QDeadlineTimer &deadline);
    [[noreturn]] void broken(int number, const CallInfo &info, const QString &why);
    bool hello(const QString &ns, int timeoutMsec); // true: the server offers TLS

    QSslSocket m_socket; // plain until the server offers TLS
    std::shared_ptr<CertificatePins> m_pins;
    QByteArray m_out;
    QByteArray m_in;
    CborWriter m_writer{m_out};
    CborReader m_reader;
    QHash<QString, std::vector<QString>> m_names;
    QString m_where; // "host[port]" for messages
    QString m_ns;
    quint64 m_roundTrips = 0;
    qint64 m_request = 0; // number of the last request sent; its answer must carry it
    int m_callTimeout = 30000;
    int m_job = 0;
    bool m_connected = false;
    bool m_answered = false; // the last failure was an answer of the server, not the transport
};

} // namespace factory
