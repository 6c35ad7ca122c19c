#pragma once
// The server's TLS identity from PEM files: the certificate (its chain may follow in the
// same file) and the private key (RSA or EC, unencrypted).

#include <QSslConfiguration>
#include <QString>

#include <optional>

namespace server {

// nullopt with `why` when a file cannot be read or holds no certificate or key.
std::optional<QSslConfiguration> loadTlsConfiguration(const QString &certificateFile, const QString &keyFile,
                                                      QString &why);

} // namespace server
