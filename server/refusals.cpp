#include "server/refusals.h"

#include "factory/wire.h"

#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace server {

namespace {
void drainAndClose(int fd)
{
    char sink[4096];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    ::close(fd);
}
} // namespace

Refusals::~Refusals()
{
    for (int fd : std::as_const(m_lingering))
        ::close(fd);
}

void Refusals::refuse(int fd, int number, const QString &description, bool linger)
{
    const QByteArray frame = wire::encode(wire::error(number, description));
    // A fresh socket's send buffer takes a small frame whole; what does not fit is lost.
    [[maybe_unused]] const auto sent = ::send(fd, frame.constData(), size_t(frame.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_WR);
    if (!linger || m_lingering.size() >= MaxLingering) {
        drainAndClose(fd);
        return;
    }
    m_lingering.insert(fd);
    QTimer::singleShot(1000, this, [this, fd] {
        if (m_lingering.remove(fd))
            drainAndClose(fd);
    });
}

} // namespace server
