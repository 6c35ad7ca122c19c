#include "session/certificatestore.h"

#include "platform/platform.h"

using namespace Qt::StringLiterals;

namespace cacheapi {

namespace {
const QString SettingsApp = u"Cache Login"_s;
const QString SettingsSection = u"Zertifikate"_s;
} // namespace

QString SettingsCertificatePins::pinned(const QString &address)
{
    return platform::GetSetting(SettingsApp, SettingsSection, address);
}

void SettingsCertificatePins::remember(const QString &address, const QString &fingerprint)
{
    platform::SaveSetting(SettingsApp, SettingsSection, address, fingerprint);
}

void useSettingsCertificatePins()
{
    if (!factory::defaultCertificatePins())
        factory::setDefaultCertificatePins(std::make_shared<SettingsCertificatePins>());
}

} // namespace cacheapi
