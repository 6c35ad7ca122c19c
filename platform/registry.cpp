#include "platform/platform.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QFile>
#endif

using namespace Qt::StringLiterals;

namespace platform {
namespace {
QString g_standIn;
}

void setRegistryStandInFile(const QString &path) { g_standIn = path; }

#ifdef Q_OS_WIN
RegistryRead readRegistryValue(RegistryRoot root, const QString &key, const QString &valueName)
{
    RegistryRead r;
    HKEY hroot = root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY hkey = nullptr;
    const QByteArray k = key.toLocal8Bit();
    // Read access only: full access to HKEY_LOCAL_MACHINE is refused to users without
    // administrator rights, and a value is all that is wanted here.
    if (RegOpenKeyExA(hroot, k.constData(), 0, KEY_READ, &hkey) != ERROR_SUCCESS)
        return r;
    r.opened = true;
    char buffer[1024];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    const QByteArray v = valueName.toLocal8Bit();
    if (RegQueryValueExA(hkey, v.constData(), nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) ==
        ERROR_SUCCESS) {
        r.queried = true;
        r.type = int(type);
        r.data = QByteArray(buffer, int(size));
    }
    RegCloseKey(hkey);
    return r;
}
#else
// Stand-in registry: a text file, one value a line:
//   ROOT\key\path|value name|type number|data as hex
// ROOT is HKLM or HKCU. Key and value names compare case-insensitively, as in the registry.
RegistryRead readRegistryValue(RegistryRoot root, const QString &key, const QString &valueName)
{
    RegistryRead r;
    QString path = g_standIn.isEmpty() ? qEnvironmentVariable("ORVANTA_REGISTRY_FILE") : g_standIn;
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text))
        return r;
    const QString wantedKey = (root == RegistryRoot::LocalMachine ? u"HKLM\\"_s : u"HKCU\\"_s) + key;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const QStringList parts = line.split(u'|');
        if (parts.size() != 4 || parts[0].compare(wantedKey, Qt::CaseInsensitive) != 0)
            continue;
        r.opened = true;
        if (parts[1].compare(valueName, Qt::CaseInsensitive) != 0)
            continue;
        r.queried = true;
        r.type = parts[2].toInt();
        r.data = QByteArray::fromHex(parts[3].toLatin1()).left(1024);
        return r;
    }
    return r;
}
#endif

} // namespace platform
