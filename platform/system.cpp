#include "platform/platform.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace platform {
namespace {
QString g_commandLine;
}

QString environmentVariable(const QString &name) { return qEnvironmentVariable(name.toLocal8Bit().constData()); }

QString commandLine() { return g_commandLine; }
void setCommandLine(const QString &line) { g_commandLine = line; }

void sleepOneMillisecondProcessingEvents()
{
    QThread::msleep(1);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace platform
