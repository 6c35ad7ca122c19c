#include "server/tlsgate.h"

#include "factory/error.h"
#include "factory/wire.h"
#include "server/link.h"
#include "server/log.h"

using namespace Qt::StringLiterals;

namespace server::tlsgate {

bool plainHello(const QSslConfiguration &config, Link &link, const wire::Request &message, qsizetype unread,
                int jobNumber, int msec, bool &over)
{
    over = false;
    if (message.value("op"_L1).toString() != "hello"_L1)
        return false; // answered by the job as before a hello ever came
    if (message.value("tls"_L1) != QCborValue(true)) {
        log::line(u"job %1: error 1010, plain hello on a TLS-only server; closing"_s.arg(jobNumber));
        link.answerAndClose(wire::encode(wire::error(
            factory::ErrorCode::TlsRequired,
            u"Der Server nimmt nur verschlüsselte Verbindungen (TLS) an; dieses Programm kann sie nicht"_s)));
        over = true;
        return true;
    }
    over = true;
    if (unread > 0) {
        log::line(u"job %1: error 1000, data before the TLS handshake; closing"_s.arg(jobNumber));
        link.answerAndClose(wire::encode(
            wire::error(factory::ErrorCode::Protocol, u"Daten vor dem Aufbau der Verschlüsselung"_s)));
        return true;
    }
    QCborMap offer;
    offer.insert(u"tls"_s, true);
    // Numbered like every other answer (the number first), so that the client takes it for
    // its hello's.
    QCborMap answer;
    if (const QCborValue number = message.value("n"_L1); number.isInteger())
        answer.insert(u"n"_s, number);
    answer.insert(u"ok"_s, offer);
    if (!link.sendAll(wire::encode(answer)))
        return true;
    QString why;
    if (!link.startTls(config, msec, why)) {
        log::line(u"job %1: TLS handshake failed (%2); closing"_s.arg(jobNumber).arg(why));
        return true;
    }
    over = false;
    return true;
}

} // namespace server::tlsgate
