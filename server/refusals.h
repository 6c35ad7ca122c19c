#pragma once
// Connections the server does not take: each gets one error frame and is closed, without
// holding up the listening thread. The error frame answers the client's hello.

#include <QObject>
#include <QSet>

namespace server {

class Refusals final : public QObject
{
    Q_OBJECT
public:
    explicit Refusals(QObject *parent = nullptr) : QObject(parent) {}
    ~Refusals() override;
    Q_DISABLE_COPY_MOVE(Refusals)

    // Takes the socket over. With `linger` it is closed a moment later, after what the client
    // sent meanwhile has been read away: closing with unread input resets the connection and
    // can destroy the answer. Without, or when many already linger, it is closed at once.
    void refuse(int fd, int number, const QString &description, bool linger);

private:
    QSet<int> m_lingering;
    static constexpr int MaxLingering = 64;
};

} // namespace server
