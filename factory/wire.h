#pragma once
// Framing shared by the client and the server: a 4-byte big-endian length, then one
// CBOR map. docs/protocol.md describes the messages.

#include <QByteArray>
#include <QCborMap>
#include <QCborValue>

namespace wire {

constexpr quint32 MaxFrame = 16u * 1024u * 1024u;
constexpr int ProtocolVersion = 1;

QByteArray encode(const QCborMap &message);

// Collects bytes as they arrive and hands out whole messages.
class FrameReader
{
public:
    enum class Status { Message, NeedMore, TooLarge, Malformed };
    void append(const QByteArray &bytes);
    // Room for `size` more bytes, to receive into without a copy; commit() takes the count
    // that was written there.
    char *space(qsizetype size);
    void commit(qsizetype count) { m_end += count; }
    // Takes the next whole frame off the buffer. After TooLarge or Malformed the stream is
    // out of step and must be closed.
    Status next(QCborMap &message);
    qsizetype buffered() const { return m_end - m_pos; }

private:
    QByteArray m_buffer; // [m_pos, m_end) unread
    qsizetype m_pos = 0;
    qsizetype m_end = 0;
};

// Answers.
QCborMap ok(const QCborValue &value);
QCborMap error(int number, const QString &description);

} // namespace wire
