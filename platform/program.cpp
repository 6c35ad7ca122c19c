#include "platform/platform.h"

#include <QFileInfo>
#include <QProcess>

namespace platform {

bool fileExists(const QString &path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

bool startProgram(const QString &path)
{
    // A detached start: the program gets its own normal window and the focus from the system.
    return QProcess::startDetached(path, {});
}

} // namespace platform
