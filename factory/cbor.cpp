#include "factory/cbor.h"

#include "factory/error.h"

#include <QCborArray>
#include <QCborMap>
#include <QVariantList>
#include <QVariantMap>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

using namespace Qt::StringLiterals;

namespace wire {

namespace {
constexpr int MaxDepth = 64; // a hostile peer must not be able to exhaust the stack

qsizetype utf8Length(QStringView s)
{
    qsizetype n = 0;
    const qsizetype size = s.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = s[i].unicode();
        if (c < 0x80) {
            n += 1;
        } else if (c < 0x800) {
            n += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(s[i + 1].unicode())) {
            n += 4;
            ++i;
        } else {
            n += 3; // lone surrogates become U+FFFD, also three bytes
        }
    }
    return n;
}

void writeUtf8(QStringView s, char *out)
{
    auto *o = reinterpret_cast<uchar *>(out);
    const qsizetype size = s.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t c = s[i].unicode();
        if (c < 0x80) {
            *o++ = uchar(c);
        } else if (c < 0x800) {
            *o++ = uchar(0xc0 | (c >> 6));
            *o++ = uchar(0x80 | (c & 0x3f));
        } else if (QChar::isSurrogate(c)) {
            if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(s[i + 1].unicode())) {
                c = QChar::surrogateToUcs4(char16_t(c), s[++i].unicode());
                *o++ = uchar(0xf0 | (c >> 18));
                *o++ = uchar(0x80 | ((c >> 12) & 0x3f));
                *o++ = uchar(0x80 | ((c >> 6) & 0x3f));
                *o++ = uchar(0x80 | (c & 0x3f));
            } else {
                *o++ = 0xef; // U+FFFD
                *o++ = 0xbf;
                *o++ = 0xbd;
            }
        } else {
            *o++ = uchar(0xe0 | (c >> 12));
            *o++ = uchar(0x80 | ((c >> 6) & 0x3f));
            *o++ = uchar(0x80 | (c & 0x3f));
        }
    }
}

double halfToDouble(quint16 half)
{
    const int exponent = (half >> 10) & 0x1f;
    const int mantissa = half & 0x3ff;
    double v;
    if (exponent == 0)
        v = std::ldexp(double(mantissa), -24);
    else if (exponent != 31)
        v = std::ldexp(double(mantissa + 1024), exponent - 25);
    else
        v = mantissa == 0 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    return (half & 0x8000) ? -v : v;
}
} // namespace

// ---------------------------------------------------------------- writer

// Room for the head of an item with argument n and `bytes` bytes after it: the head written,
// where the bytes go.
char *CborWriter::headed(int major, quint64 n, qsizetype bytes)
{
    const int size = n < 24 ? 1 : n <= 0xff ? 2 : n <= 0xffff ? 3 : n <= 0xffffffffu ? 5 : 9;
    char *out = grow(size + bytes);
    const auto m = uchar(major << 5);
    static constexpr uchar info[10] = {0, 0, 24, 25, 0, 26, 0, 0, 0, 27};
    out[0] = char(size == 1 ? m | uchar(n) : m | info[size]);
    for (int i = size - 1; i >= 1; --i) {
        out[i] = char(n & 0xff);
        n >>= 8;
    }
    return out + size;
}

// Head and bytes in one step: appending piece by piece costs more than the bytes.
void CborWriter::longItem(int major, const char *data, qsizetype size)
{
    std::memcpy(headed(major, quint64(size), size), data, size_t(size));
}

void CborWriter::text(QStringView s)
{
    // Names and ids are ASCII: one byte a character, without the per-character cases.
    const char16_t *chars = s.utf16();
    const qsizetype size = s.size();
    char16_t any = 0;
    for (qsizetype i = 0; i < size; ++i)
        any |= chars[i];
    if (any < 0x80) {
        char *out = headed(3, quint64(size), size);
        for (qsizetype i = 0; i < size; ++i)
            out[i] = char(chars[i]);
        return;
    }
    const qsizetype n = utf8Length(s);
    writeUtf8(s, headed(3, quint64(n), n));
}

void CborWriter::real(double v)
{
    char *out = grow(9);
    out[0] = char(0xfb);
    quint64 bits;
    std::memcpy(&bits, &v, 8);
    qToBigEndian<quint64>(bits, out + 1);
}

void CborWriter::tree(const QCborValue &v)
{
    switch (v.type()) {
    case QCborValue::Integer:
        integer(v.toInteger());
        return;
    case QCborValue::String:
        text(v.toString());
        return;
    case QCborValue::Double:
        real(v.toDouble());
        return;
    case QCborValue::Null:
        null();
        return;
    case QCborValue::Undefined:
        undefined();
        return;
    case QCborValue::True:
    case QCborValue::False:
        boolean(v.isTrue());
        return;
    case QCborValue::ByteArray:
        bytes(v.toByteArray());
        return;
    case QCborValue::Array: {
        const QCborArray a = v.toArray();
        array(quint64(a.size()));
        for (const QCborValue &item : a)
            tree(item);
        return;
    }
    case QCborValue::Map: {
        const QCborMap m = v.toMap();
        map(quint64(m.size()));
        for (auto it = m.constBegin(); it != m.constEnd(); ++it) {
            tree(it.key());
            tree(it.value());
        }
        return;
    }
    default: // tags and the rest, which no answer carries: as Qt writes them
        raw(v.toCbor());
        return;
    }
}

void CborWriter::value(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QString:
        text(*static_cast<const QString *>(v.constData()));
        return;
    case QMetaType::LongLong:
        integer(*static_cast<const qlonglong *>(v.constData()));
        return;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        integer(v.toLongLong());
        return;
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const qulonglong u = v.toULongLong();
        if (u <= quint64(std::numeric_limits<qint64>::max()))
            integer(qint64(u));
        else
            real(double(u));
        return;
    }
    case QMetaType::Bool:
        integer(v.toBool() ? 1 : 0);
        return;
    case QMetaType::Double:
    case QMetaType::Float:
        real(v.toDouble());
        return;
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        text(QStringView());
        return;
    case QMetaType::QByteArray:
        text(QString::fromUtf8(*static_cast<const QByteArray *>(v.constData())));
        return;
    default:
        text(v.toString());
        return;
    }
}

// ---------------------------------------------------------------- reader

void CborReader::malformed()
{
    throw factory::Error(factory::ErrorCode::Protocol, u"Fehlerhafte Nachricht vom Server (CBOR)"_s);
}

int CborReader::peekMajor() const
{
    if (m_p >= m_end)
        malformed();
    return *m_p >> 5;
}

quint64 CborReader::argument(uchar info)
{
    if (info < 24)
        return info;
    int bytes;
    switch (info) {
    case 24: bytes = 1; break;
    case 25: bytes = 2; break;
    case 26: bytes = 4; break;
    case 27: bytes = 8; break;
    default: malformed();
    }
    if (m_end - m_p < bytes)
        malformed();
    quint64 n = 0;
    for (int i = 0; i < bytes; ++i)
        n = (n << 8) | m_p[i];
    m_p += bytes;
    return n;
}

quint64 CborReader::length(int major, bool &indefinite)
{
    if (peekMajor() != major)
        malformed();
    const uchar info = *m_p++ & 0x1f;
    indefinite = info == 31;
    return indefinite ? 0 : argument(info);
}

CborReader::Container CborReader::enterMap()
{
    bool indefinite;
    const quint64 n = length(5, indefinite);
    if (indefinite)
        return {-1};
    if (n > quint64(m_end - m_p) / 2) // each pair takes two bytes at least
        malformed();
    return {qint64(n)};
}

CborReader::Container CborReader::enterArray()
{
    bool indefinite;
    const quint64 n = length(4, indefinite);
    if (indefinite)
        return {-1};
    if (n > quint64(m_end - m_p))
        malformed();
    return {qint64(n)};
}

bool CborReader::moreIndefinite()
{
    if (m_p >= m_end)
        malformed();
    if (*m_p == 0xff) {
        ++m_p;
        return false;
    }
    return true;
}

quint8 CborReader::peek() const
{
    if (m_p >= m_end)
        malformed();
    return *m_p;
}

bool CborReader::isNull() const { return m_p < m_end && (*m_p == 0xf6 || *m_p == 0xf7); }
bool CborReader::isText() const { return m_p < m_end && (*m_p >> 5) == 3; }
bool CborReader::isMap() const { return m_p < m_end && (*m_p >> 5) == 5; }
bool CborReader::isArray() const { return m_p < m_end && (*m_p >> 5) == 4; }

QByteArrayView CborReader::anyTextView()
{
    const int major = peekMajor();
    if (major != 2 && major != 3)
        malformed();
    bool indefinite;
    quint64 n = length(major, indefinite);
    if (!indefinite) {
        if (n > quint64(m_end - m_p))
            malformed();
        const QByteArrayView view(reinterpret_cast<const char *>(m_p), qsizetype(n));
        m_p += n;
        return view;
    }
    m_scratch.clear();
    for (;;) {
        if (m_p >= m_end)
            malformed();
        if (*m_p == 0xff) {
            ++m_p;
            break;
        }
        bool chunkIndefinite;
        n = length(major, chunkIndefinite);
        if (chunkIndefinite || n > quint64(m_end - m_p))
            malformed();
        m_scratch.append(reinterpret_cast<const char *>(m_p), qsizetype(n));
        m_p += n;
    }
    return m_scratch;
}

QString CborReader::text()
{
    return QString::fromUtf8(textView());
}

qint64 CborReader::integer()
{
    const int major = peekMajor();
    if (major == 0 || major == 1) {
        const uchar info = *m_p++ & 0x1f;
        const quint64 a = argument(info);
        if (a > quint64(std::numeric_limits<qint64>::max()))
            malformed();
        return major == 0 ? qint64(a) : -1 - qint64(a);
    }
    const QVariant v = value();
    if (v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (std::trunc(d) == d && std::abs(d) < 9.2e18)
            return qint64(d);
    }
    malformed();
}

bool CborReader::boolean()
{
    if (m_p < m_end && (*m_p == 0xf4 || *m_p == 0xf5))
        return *m_p++ == 0xf5;
    return integer() != 0;
}

QVariant CborReader::value() { return valueAt(0); }

QVariant CborReader::valueAt(int depth)
{
    if (depth > MaxDepth)
        malformed();
    const int major = peekMajor();
    switch (major) {
    case 0:
    case 1: {
        const uchar info = *m_p++ & 0x1f;
        const quint64 a = argument(info);
        if (a <= quint64(std::numeric_limits<qint64>::max()))
            return major == 0 ? qint64(a) : -1 - qint64(a);
        return major == 0 ? double(a) : -1.0 - double(a);
    }
    case 2:
    case 3:
        return text();
    case 4: {
        QVariantList list;
        for (auto c = enterArray(); more(c);)
            list.append(valueAt(depth + 1));
        return list;
    }
    case 5: {
        QVariantMap map;
        for (auto c = enterMap(); more(c);) {
            QString k = isText() ? text() : valueAt(depth + 1).toString();
            map.insert(k, valueAt(depth + 1));
        }
        return map;
    }
    case 6:
        argument(*m_p++ & 0x1f);
        return valueAt(depth + 1); // tags carry nothing a late-bound value needs
    default: {
        const uchar info = *m_p++ & 0x1f;
        switch (info) {
        case 20: return qint64(0);
        case 21: return qint64(1);
        case 25: return halfToDouble(quint16(argument(info)));
        case 26: {
            const auto bits = quint32(argument(info));
            float f;
            std::memcpy(&f, &bits, 4);
            return double(f);
        }
        case 27: {
            const quint64 bits = argument(info);
            double d;
            std::memcpy(&d, &bits, 8);
            return d;
        }
        case 24:
            argument(info);
            return {};
        case 31:
            malformed(); // a break outside an indefinite container
        default:
            if (info > 24)
                malformed();
            return {}; // null, undefined, other simple values
        }
    }
    }
}

void CborReader::skipAt(int depth)
{
    if (depth > MaxDepth)
        malformed();
    switch (peekMajor()) {
    case 2:
    case 3:
        textView();
        return;
    case 4:
        for (auto c = enterArray(); more(c);)
            skipAt(depth + 1);
        return;
    case 5:
        for (auto c = enterMap(); more(c);) {
            skipAt(depth + 1);
            skipAt(depth + 1);
        }
        return;
    case 6:
        argument(*m_p++ & 0x1f);
        skipAt(depth + 1);
        return;
    default: {
        const uchar info = *m_p++ & 0x1f;
        if (info == 31)
            malformed();
        argument(info);
        return;
    }
    }
}

} // namespace wire
