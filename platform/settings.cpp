#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#include <memory>

using namespace Qt::StringLiterals;

namespace platform {
namespace {
QString g_folder;

std::unique_ptr<QSettings> open(const QString &app)
{
    QString folder = g_folder;
    if (folder.isEmpty())
        folder = qEnvironmentVariable("ORVANTA_SETTINGS_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        return std::make_unique<QSettings>(QDir(folder).filePath(app + u".ini"), QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, u"Orvanta"_s, app);
}
} // namespace

void setSettingsFolder(const QString &folder) { g_folder = folder; }

QString GetSetting(const QString &app, const QString &section, const QString &key, const QString &defaultValue)
{
    auto s = open(app);
    return s->value(section + u'/' + key, defaultValue).toString();
}

bool HasSetting(const QString &app, const QString &section, const QString &key)
{
    return open(app)->contains(section + u'/' + key);
}

void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value)
{
    auto s = open(app);
    s->setValue(section + u'/' + key, value);
    s->sync();
}

} // namespace platform
