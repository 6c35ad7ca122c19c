#include "factory/wire.h"

#include <QCborArray>
#include <QCborParserError>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace wire {

QByteArray encode(const QCborMap &message)
{
    const QByteArray body = message.toCborValue().toCbor();
    QByteArray frame;
    frame.resize(4 + body.size());
    qToBigEndian<quint32>(quint32(body.size()), frame.data());
    memcpy(frame.data() + 4, body.constData(), size_t(body.size()));
    return frame;
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
    const QCborValue value =
        QCborValue::fromCbor(QByteArrayView(m_buffer.constData() + m_pos + 4, length).toByteArray(), &err);
    m_pos += 4 + length;
    // Compact now and then so a long-lived connection does not keep every byte it read.
    if (m_pos > 65536 && m_pos * 2 > m_buffer.size()) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    } else if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
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
