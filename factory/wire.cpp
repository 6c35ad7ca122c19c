#include "factory/wire.h"

#include "factory/cbor.h"
#include "factory/error.h"

#include <QCborArray>
#include <QCborParserError>
#include <QtEndian>

#include <cstring>

using namespace Qt::StringLiterals;

namespace wire {

namespace {
// What a reader keeps between frames; a larger buffer is given back once it is read.
constexpr qsizetype KeptBuffer = 256 * 1024;
} // namespace

QByteArray encode(const QCborMap &message)
{
    QByteArray frame(4, Qt::Uninitialized);
    CborWriter(frame).tree(message.toCborValue());
    qToBigEndian<quint32>(quint32(frame.size() - 4), frame.data());
    return frame;
}

void FrameReader::append(const QByteArray &bytes)
{
    memcpy(space(bytes.size()), bytes.constData(), size_t(bytes.size()));
    commit(bytes.size());
}

char *FrameReader::space(qsizetype size)
{
    if (m_pos == m_end) {
        m_pos = m_end = 0;
    } else if (m_pos > 0 && m_buffer.size() - m_end < size) {
        // Move the unread rest to the front rather than grow: a long-lived connection does
        // not keep every byte it read.
        memmove(m_buffer.data(), m_buffer.constData() + m_pos, size_t(m_end - m_pos));
        m_end -= m_pos;
        m_pos = 0;
    }
    if (m_buffer.size() - m_end < size)
        m_buffer.resize(qMax(m_end + size, qMin(2 * m_buffer.size(), m_end + qsizetype(MaxFrame) + 4)));
    return m_buffer.data() + m_end;
}

// Takes the next whole frame off the buffer and hands its bytes to `parse` (true: well-formed),
// while they are still valid.
template<typename Parse>
FrameReader::Status FrameReader::nextWith(Parse &&parse)
{
    if (buffered() < 4)
        return Status::NeedMore;
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + m_pos);
    if (length > MaxFrame)
        return Status::TooLarge;
    if (buffered() < 4 + qsizetype(length))
        return Status::NeedMore;
    const bool ok = parse(QByteArrayView(m_buffer.constData() + m_pos + 4, length));
    m_pos += 4 + length;
    if (m_pos == m_end) {
        m_pos = m_end = 0;
        if (m_buffer.size() > KeptBuffer)
            m_buffer = QByteArray();
    }
    return ok ? Status::Message : Status::Malformed;
}

FrameReader::Status FrameReader::next(QCborMap &message)
{
    return nextWith([&](QByteArrayView frame) {
        QCborParserError err;
        // Parsed in place: the value copies what it keeps.
        const QCborValue value = QCborValue::fromCbor(QByteArray::fromRawData(frame.data(), frame.size()), &err);
        if (err.error != QCborError::NoError || !value.isMap())
            return false;
        message = value.toMap();
        return true;
    });
}

FrameReader::Status FrameReader::next(Request &request)
{
    return nextWith([&](QByteArrayView frame) { return request.parse(frame); });
}

bool Request::parse(QByteArrayView cbor)
{
    if (cbor.size() > qsizetype(MaxFrame))
        return false;
    // A large request's buffers are not kept for the small ones after it.
    if (m_bytes.capacity() > KeptBuffer && cbor.size() <= KeptBuffer) {
        m_bytes = QByteArray();
        m_fields = {};
    }
    m_bytes.resize(cbor.size()); // keeps its capacity
    std::memcpy(m_bytes.data(), cbor.data(), size_t(cbor.size()));
    m_fields.clear();
    try {
        CborReader r(m_bytes.constData(), m_bytes.size());
        for (auto c = r.enterMap(); r.more(c);) {
            Field f{};
            const char *start = m_bytes.constData();
            if (r.isText()) {
                const QByteArrayView key = r.textView();
                // A key in chunks lives in the reader's scratch buffer: such a key is never
                // looked up, as no handler's key is sent that way.
                if (key.data() >= start && key.data() < start + m_bytes.size()) {
                    f.key = qint32(key.data() - start);
                    f.keySize = qint32(key.size());
                } else {
                    f.keySize = -1;
                }
            } else {
                r.skip();
                f.keySize = -1; // not text: no lookup by a key name finds it
            }
            const char *at = r.position();
            r.skip();
            f.value = qint32(at - start);
            f.valueSize = qint32(r.position() - at);
            m_fields.append(f);
        }
        return r.atEnd();
    } catch (const factory::Error &) {
        m_fields.clear();
        return false;
    }
}

const Request::Field *Request::find(QLatin1StringView key) const
{
    for (const Field &f : m_fields) {
        if (f.keySize == key.size() && std::memcmp(m_bytes.constData() + f.key, key.data(), size_t(f.keySize)) == 0)
            return &f;
    }
    return nullptr;
}

QByteArrayView Request::raw(QLatin1StringView key) const
{
    const Field *f = find(key);
    return f ? QByteArrayView(m_bytes.constData() + f->value, f->valueSize) : QByteArrayView();
}

QCborValue Request::value(QLatin1StringView key) const
{
    const QByteArrayView bytes = raw(key);
    if (bytes.isEmpty())
        return QCborValue(QCborValue::Undefined);
    return QCborValue::fromCbor(QByteArray::fromRawData(bytes.data(), bytes.size()));
}

bool Request::isText(QLatin1StringView key) const
{
    const QByteArrayView bytes = raw(key);
    return !bytes.isEmpty() && (uchar(bytes[0]) >> 5) == 3;
}

QString Request::text(QLatin1StringView key) const
{
    const QByteArrayView bytes = raw(key);
    if (bytes.isEmpty() || (uchar(bytes[0]) >> 5) != 3)
        return {};
    CborReader r(bytes.data(), bytes.size());
    QString s = r.text();
    if (s.isNull())
        s = QString(u""_s); // empty text is still text
    return s;
}

QByteArrayView Request::plainText(QLatin1StringView key) const
{
    const QByteArrayView bytes = raw(key);
    if (bytes.isEmpty() || (uchar(bytes[0]) >> 5) != 3 || (uchar(bytes[0]) & 0x1f) == 31)
        return {};
    CborReader r(bytes.data(), bytes.size());
    return r.textView();
}

std::optional<qint64> Request::integer(QLatin1StringView key) const
{
    const QByteArrayView bytes = raw(key);
    const int major = bytes.isEmpty() ? -1 : uchar(bytes[0]) >> 5;
    if (major != 0 && major != 1)
        return std::nullopt;
    CborReader r(bytes.data(), bytes.size());
    return r.integer();
}

QCborMap ok(const QCborValue &value)
{
    QCborMap m;
    m.insert(u"ok"_s, value);
    return m;
}

QCborMap error(int number, const QString &description)
{
    QCborMap m;
    QCborArray err;
    err.append(number);
    err.append(description);
    m.insert(u"err"_s, err);
    return m;
}

} // namespace wire
