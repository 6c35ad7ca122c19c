#pragma once
// TLS on the client's side of a connection whose plain hello the server answered with an
// offer, and the certificate check against the remembered fingerprints.

#include <QString>

class QSslSocket;

namespace factory {

class CertificatePins;

namespace securechannel {

// Encrypts the connected socket and checks the server's certificate: an address seen for
// the first time is remembered, another certificate than the remembered one throws 1012,
// a failed handshake 1014. pins may be null: then nothing is checked.
void startClient(QSslSocket &socket, const QString &address, CertificatePins *pins, int msec);

// The server answered unencrypted: throws 1013 when the address has a certificate remembered.
void checkPlain(const QString &address, CertificatePins *pins);

} // namespace securechannel
} // namespace factory
