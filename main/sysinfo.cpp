#include "main/sysinfo.h"

#include "platform/messagebox.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace orvanta {

namespace {
const QString NotAvailable = u"Systeminformationen sind momentan nicht verfügbar"_s;
}

KeyValue GetKeyValue(platform::RegistryRoot root, const QString &keyName, const QString &valueName)
{
    const platform::RegistryRead read = platform::readRegistryValue(root, keyName, valueName);
    if (!read.opened || !read.queried)
        return {};
    QByteArray data = read.data;
    if (data.endsWith('\0'))
        data.chop(1);
    // Only text values name a program; other types are of no use here.
    if (read.type != platform::RegSz)
        return {};
    return {QString::fromLocal8Bit(data), true};
}

QString sysInfoProgramPath()
{
    const KeyValue direct = GetKeyValue(platform::RegistryRoot::LocalMachine,
                                        u"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"_s, u"PATH"_s);
    if (direct.found)
        return direct.value;
    const KeyValue folder = GetKeyValue(platform::RegistryRoot::LocalMachine,
                                        u"SOFTWARE\\Microsoft\\Shared Tools Location"_s, u"MSINFO"_s);
    if (folder.found) {
        // The folder value has no trailing separator; the separator is the system's own.
        const QString path = folder.value + QDir::separator() + u"MSINFO32.EXE"_s;
        if (platform::fileExists(path))
            return path;
    }
    return {};
}

void StartSysInfo(QWidget *parent)
{
    bool started = false;
    try {
        const QString path = sysInfoProgramPath();
        started = !path.isEmpty() && platform::startProgram(path);
    } catch (...) {
        started = false;
    }
    if (!started)
        platform::messageBox(parent, NotAvailable, platform::Buttons::Ok, platform::Icon::None, QString());
}

} // namespace orvanta
