#pragma once
// Trust on first use for TLS servers, as ssh does with host keys: the certificate a server
// address showed first is remembered, and later connections to that address must show the
// same one and must be encrypted. Where the fingerprints are kept is the caller's business
// (the desktop client keeps them in its per-user settings, the CLI in its own).

#include <QString>

#include <memory>

class QSslCertificate;

namespace factory {

class CertificatePins
{
public:
    virtual ~CertificatePins() = default;
    // The fingerprint remembered for the address ("host[port]"), "" when it has none.
    virtual QString pinned(const QString &address) = 0;
    virtual void remember(const QString &address, const QString &fingerprint) = 0;
};

// Used by every Factory that is not given pins of its own. Without any, a TLS server is
// used encrypted but its certificate is not checked.
void setDefaultCertificatePins(std::shared_ptr<CertificatePins> pins);
std::shared_ptr<CertificatePins> defaultCertificatePins();

// "SHA256:AB:CD:…" over the certificate's DER form, as `openssl x509 -fingerprint -sha256` prints it.
QString fingerprint(const QSslCertificate &certificate);

} // namespace factory
