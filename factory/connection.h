#pragma once
// The wire connection shared by a factory and every object it made. Synchronous on the
// caller's thread: one request out, wait for its answer, no event loop. Inside a job
// transaction saves may be pipelined: sent at once, their answers read at the next exchange.

#include "factory/cbor.h"
#include "factory/error.h"

#include <QByteArray>
#include <QHash>
#include <QDeadlineTimer>
#include <QString>
#include <QSslSocket>

#include <functional>
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

    // Pipelining (docs/protocol.md, "Pipelined saves"): only inside a job transaction, where
    // a TROLLBACK undoes whatever followed a failed request. Nested; a new connection starts
    // without.
    void setPipelining(bool on) { m_pipelineDepth += on ? 1 : -1; }
    bool pipelining() const { return m_pipelineDepth > 0 && m_connected; }
    // Sends the request begun with begin() without waiting. `answered` gets the reader on
    // the "ok" value when the answer is collected. A failure answer of a `raising` request is
    // raised by the collection; one of another request (a close nobody waits for) is dropped.
    void send(const CallInfo &info, std::function<void(CborReader &)> answered, bool raising = true);
    bool hasPipelined() const { return !m_pipelined.empty(); }
    // Reads every outstanding answer, in order, as one round trip; then raises the first
    // failure answered to a raising request. exchange() does this before it sends.
    void collect();
    // collect() for a caller that is giving up anyway (an exception on its way): nothing is
    // raised; a broken connection is closed.
    void discardPipelined() noexcept;

private:
    struct Pipelined
    {
        qint64 number;
        QLatin1StringView operation;
        QString className;
        QString id;
        std::function<void(CborReader &)> answered;
        bool raising;
    };

    CborReader &exchange(const CallInfo &info, int timeoutMsec);
    void write(const CallInfo &info);
#if defined(Q_OS_UNIX)
    void sendAll(const CallInfo &info);
#endif
    qint64 readSome(char *to, qint64 max);
    // Reads the next frame to m_in[m_inStart, m_inEnd) and answers its size; bytes after it stay.
    qsizetype receiveFrame(const CallInfo &info, int timeoutMsec);
    // Places m_reader on the "ok" value of the frame just read, the answer to `number`; or
    // answers the error the server sent (after 1000–1003 the connection is closed).
    std::optional<Error> answer(const CallInfo &info, qint64 number, qsizetype frameEnd);
    bool waitForAnswer(const QDeadlineTimer &deadline);
    // A plain socket on Unix: sends and reads go straight to the kernel and wait themselves,
    // bounded by timeouts.
    void makeBlocking();
    [[noreturn]] void broken(int number, const CallInfo &info, const QString &why);
    [[noreturn]] void lost(const CallInfo &info); // broken(): the connection went down
    bool hello(const QString &ns, int timeoutMsec); // true: the server offers TLS

    QSslSocket m_socket; // plain until the server offers TLS
    std::shared_ptr<CertificatePins> m_pins;
    QByteArray m_out;
    QByteArray m_in;
    qsizetype m_inHave = 0;  // bytes in m_in
    qsizetype m_inStart = 0; // the frame last read: m_in[m_inStart, m_inEnd)
    qsizetype m_inEnd = 0;
    std::vector<Pipelined> m_pipelined; // sent, answer not read yet, in order
    int m_pipelineDepth = 0;
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
    bool m_blocking = false;
    int m_receiveTimeout = -1; // ms set on the blocking socket (0: none; -1: not set)
    int m_sendTimeout = -1;
};

} // namespace factory
