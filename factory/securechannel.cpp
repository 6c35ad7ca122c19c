#include "factory/securechannel.h"

#include "factory/certificatepins.h"
#include "factory/error.h"

#include <QDeadlineTimer>
#include <QSslConfiguration>
#include <QSslSocket>

using namespace Qt::StringLiterals;

namespace factory::securechannel {

void startClient(QSslSocket &socket, const QString &address, CertificatePins *pins, int msec)
{
    QSslConfiguration config = socket.sslConfiguration();
    config.setProtocol(QSsl::TlsV1_2OrLater);
    // Servers of a business network mostly have self-made certificates: the pin is the check,
    // not a certificate authority.
    config.setPeerVerifyMode(QSslSocket::QueryPeer);
    socket.setSslConfiguration(config);
    socket.startClientEncryption();
    // waitForEncrypted() can give up early without an error, when a wake-up carried handshake
    // bytes but did not finish it (seen on a loaded machine): wait on while the socket is
    // connected and time is left.
    const QDeadlineTimer deadline(msec);
    while (!socket.isEncrypted()) {
        if (socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
            throw Error(ErrorCode::TlsFailed, u"Verschlüsselte Verbindung zum Server %1 nicht möglich: %2"_s.arg(
                                                  address, socket.errorString()));
        socket.waitForEncrypted(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    if (!pins)
        return;
    const QString shown = fingerprint(socket.peerCertificate());
    const QString known = pins->pinned(address);
    if (known.isEmpty()) {
        pins->remember(address, shown);
        return;
    }
    if (known.compare(shown, Qt::CaseInsensitive) != 0)
        throw Error(ErrorCode::CertificateChanged,
                    u"Der Server %1 weist sich mit einem anderen Zertifikat aus als bisher (bekannt: %2, jetzt: %3). "
                    u"Die Verbindung wird abgelehnt: ein anderer Rechner könnte sich als dieser Server ausgeben. "
                    u"Wurde das Zertifikat des Servers gewollt erneuert, den gespeicherten Eintrag für %1 löschen."_s
                        .arg(address, known, shown));
}

void checkPlain(const QString &address, CertificatePins *pins)
{
    if (pins && !pins->pinned(address).isEmpty())
        throw Error(ErrorCode::PlainToPinned,
                    u"Der Server %1 antwortet unverschlüsselt, obwohl er sich bisher mit einem Zertifikat ausgewiesen "
                    u"hat. Die Verbindung wird abgelehnt: ein anderer Rechner könnte sich als dieser Server ausgeben."_s
                        .arg(address));
}

} // namespace factory::securechannel
