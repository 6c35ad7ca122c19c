#include "factory/wire.h"

#include "factory/cbor.h"

#include <QCborArray>
#include <QCborParserError>
#include <QtEndian>

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

FrameReader::Status FrameReader::next(QCborMap &message)
{
    if (buffered() < 4)
        return Status::NeedMore;
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + m_pos);
    if (length > MaxFrame)
        return Status::TooLarge;
    if (buffered() < 4 + qsizetype(length))
        return Status::NeedMore;
    QCborParserError err;
    // Parsed in place: the value copies what it keeps.
    const QCborValue value =
        QCborValue::fromCbor(QByteArray::fromRawData(m_buffer.constData() + m_pos + 4, length), &err);
    m_pos += 4 + length;
    if (m_pos == m_end) {
        m_pos = m_end = 0;
        if (m_buffer.size() > KeptBuffer)
            m_buffer = QByteArray();
    }
    if (err.error != QCborError::NoError || !value.isMap())
        return Status::Malformed;
    message = value.toMap();
    return Status::Message;
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
