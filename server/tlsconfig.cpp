#include "server/tlsconfig.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

using namespace Qt::StringLiterals;

namespace server {

std::optional<QSslConfiguration> loadTlsConfiguration(const QString &certificateFile, const QString &keyFile,
                                                      QString &why)
{
    if (!QSslSocket::supportsSsl()) {
        why = u"this Qt has no TLS backend"_s;
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        why = u"no PEM certificate in "_s + certificateFile;
        return std::nullopt;
    }
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        why = u"cannot read "_s + keyFile + u": "_s + file.errorString();
        return std::nullopt;
    }
    const QByteArray pem = file.readAll();
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        why = u"no unencrypted PEM private key (RSA or EC) in "_s + keyFile;
        return std::nullopt;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificateChain(chain);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone); // clients sign in with passwords, not certificates
    config.setProtocol(QSsl::TlsV1_2OrLater);
    return config;
}

} // namespace server
