#pragma once
// Framing shared by the client and the server: a 4-byte big-endian length, then one
// CBOR map. docs/protocol.md describes the messages.

#include <QByteArray>
#include <QByteArrayView>
#include <QCborMap>
#include <QCborValue>
#include <QLatin1StringView>
#include <QVarLengthArray>

#include <optional>

namespace wire {

constexpr quint32 MaxFrame = 16u * 1024u * 1024u;
constexpr int ProtocolVersion = 1;

QByteArray encode(const QCborMap &message);

// One request as it arrived. Its map's keys are found once; a value is decoded only when
// asked for, so the few a handler reads cost what they are, not a tree of the whole
// message. Lookups behave as QCborMap's: the first pair with the key, undefined if none.
// Kept from frame to frame, it keeps its buffers.
class Request
{
public:
    // False where the bytes are not one whole, well-formed CBOR map.
    bool parse(QByteArrayView cbor);
    QCborValue value(QLatin1StringView key) const;
    // The value's CBOR bytes, empty where the key is missing.
    QByteArrayView raw(QLatin1StringView key) const;
    bool isText(QLatin1StringView key) const;
    QString text(QLatin1StringView key) const; // a null QString unless the value is text
    // The UTF-8 bytes of a text in one piece, inside the request; null for anything else
    // (chunked text too). No QString is made: for checks of names on every call.
    QByteArrayView plainText(QLatin1StringView key) const;
    std::optional<qint64> integer(QLatin1StringView key) const; // none unless the value is an integer

private:
    struct Field // offsets into m_bytes: a frame is at most MaxFrame bytes
    {
        qint32 key, keySize, value, valueSize;
    };
    const Field *find(QLatin1StringView key) const;
    QByteArray m_bytes;
    QVarLengthArray<Field, 16> m_fields;
};

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
    Status next(Request &request);
    qsizetype buffered() const { return m_end - m_pos; }

private:
    template<typename Parse>
    Status nextWith(Parse &&parse);
    QByteArray m_buffer; // [m_pos, m_end) unread
    qsizetype m_pos = 0;
    qsizetype m_end = 0;
};

// Answers.
QCborMap ok(const QCborValue &value);
QCborMap error(int number, const QString &description);

} // namespace wire
