#include "server/log.h"

#include <cstdio>
#include <mutex>

namespace server::log {

void line(const QString &text)
{
    static std::mutex mutex;
    QString flat = text;
    flat.replace(u'\n', u' ').replace(u'\r', u' '); // one event, one line
    const QByteArray bytes = flat.toUtf8() + '\n';
    std::lock_guard lock(mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace server::log
