#pragma once
// Operating-system services behind one portable interface. Windows-only calls live only in
// this folder, under #ifdef Q_OS_WIN beside their portable stand-ins (registry.cpp).

#include <QByteArray>
#include <QString>

namespace platform {

// Per-user application settings: application, section, key, text value.
QString GetSetting(const QString &app, const QString &section, const QString &key,
                   const QString &defaultValue = {});
bool HasSetting(const QString &app, const QString &section, const QString &key);
void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value);
// Tests and portable installs: keep the settings as <folder>/<app>.ini instead of the
// system store. Also taken from the environment variable ORVANTA_SETTINGS_DIR.
void setSettingsFolder(const QString &folder);

// Environment variable, "" when unset.
QString environmentVariable(const QString &name);

// The program's command line after the program name, words joined by single blanks.
QString commandLine();
void setCommandLine(const QString &line); // main() and tests

// Sleeps about one millisecond and lets the user interface process its events.
void sleepOneMillisecondProcessingEvents();

// Starts a program in a normal window that takes the focus; false when it cannot be started.
bool startProgram(const QString &path);
bool fileExists(const QString &path);

// Registry read. On Windows the real registry (RegOpenKeyEx with read access only,
// RegQueryValueEx into a 1024-character buffer); elsewhere a stand-in file (see
// setRegistryStandInFile) so the same code paths run.
enum class RegistryRoot { LocalMachine, CurrentUser };
enum RegistryType : int { RegNone = 0, RegSz = 1, RegExpandSz = 2, RegBinary = 3, RegDword = 4 };
struct RegistryRead
{
    bool opened = false;  // the key could be opened
    bool queried = false; // the value could be read
    int type = RegNone;
    QByteArray data;      // raw bytes as stored, a terminating NUL included when stored with one
};
RegistryRead readRegistryValue(RegistryRoot root, const QString &key, const QString &valueName);
void setRegistryStandInFile(const QString &path); // also ORVANTA_REGISTRY_FILE

} // namespace platform
