#pragma once
// The about box's way to the system information program: two registry values name it.

#include "platform/platform.h"

#include <QString>

class QWidget;

namespace orvanta {

struct KeyValue
{
    QString value;
    bool found = false;
};

// One text value (REG_SZ) from the registry; a terminating NUL as stored is dropped.
KeyValue GetKeyValue(platform::RegistryRoot root, const QString &keyName, const QString &valueName);

// The system information program's path, "" when the registry does not lead to one.
QString sysInfoProgramPath();

// Starts the system information program, or tells the user that there is none.
void StartSysInfo(QWidget *parent = nullptr);

} // namespace orvanta
