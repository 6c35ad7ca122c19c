#include "factory/certificatepins.h"

#include <QCryptographicHash>
#include <QSslCertificate>

#include <mutex>

using namespace Qt::StringLiterals;

namespace factory {

namespace {
std::mutex g_mutex;
std::shared_ptr<CertificatePins> g_default;
} // namespace

void setDefaultCertificatePins(std::shared_ptr<CertificatePins> pins)
{
    std::lock_guard lock(g_mutex);
    g_default = std::move(pins);
}

std::shared_ptr<CertificatePins> defaultCertificatePins()
{
    std::lock_guard lock(g_mutex);
    return g_default;
}

QString fingerprint(const QSslCertificate &certificate)
{
    return u"SHA256:"_s + QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

} // namespace factory
