#pragma once
// The server certificates this user has met (trust on first use), in the per-user settings:
// application "Cache Login", section "Zertifikate", one key per server address "host[port]",
// the value the certificate's fingerprint ("SHA256:AB:CD:…"). Deleting a key accepts a
// server's new certificate at the next connection.

#include "factory/certificatepins.h"

namespace cacheapi {

class SettingsCertificatePins final : public factory::CertificatePins
{
public:
    QString pinned(const QString &address) override;
    void remember(const QString &address, const QString &fingerprint) override;
};

// Makes every factory the program creates from now on check against these settings.
void useSettingsCertificatePins();

} // namespace cacheapi
