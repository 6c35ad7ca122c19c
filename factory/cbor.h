#pragma once
// A small CBOR writer and reader for the client's hot path. The general QCborValue tree
// costs an allocation per node twice over (build, then convert to QVariant); these write
// straight into the frame buffer and read straight out of the received bytes into the
// structures the caller keeps. What they write is plain definite-length CBOR, which the
// server reads with QCborValue.

#include <QByteArray>
#include <QByteArrayView>
#include <QCborValue>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>
#include <QVariant>

#include <cstring>

namespace wire {

class CborWriter
{
public:
    explicit CborWriter(QByteArray &out) : m_out(out) {}

    void map(quint64 pairs) { head(5, pairs); }
    void array(quint64 items) { head(4, items); }
    void key(QLatin1StringView ascii) { item(3, ascii.data(), ascii.size()); } // ASCII, as every key is
    void text(QStringView s);
    void utf8(QByteArrayView s) { item(3, s.data(), s.size()); } // text that is UTF-8 already
    void integer(qint64 v) { v >= 0 ? head(0, quint64(v)) : head(1, quint64(-(v + 1))); }
    void real(double v);
    void null() { *grow(1) = char(0xf6); }
    void boolean(bool b) { *grow(1) = char(b ? 0xf5 : 0xf4); }
    void undefined() { *grow(1) = char(0xf7); }
    void bytes(QByteArrayView b) { item(2, b.data(), b.size()); }
    // Bytes that are CBOR already (one or more whole items).
    void raw(QByteArrayView cbor)
    {
        if (!cbor.isEmpty())
            std::memcpy(grow(cbor.size()), cbor.data(), size_t(cbor.size()));
    }
    // A whole value tree, as QCborValue::toCbor() writes it, without its stream writer.
    void tree(const QCborValue &v);
    // A late-bound value: text, integer or double; anything else goes as its text.
    // An empty QVariant is "", as the late-bound caller has no null.
    void value(const QVariant &v);

private:
    char *headed(int major, quint64 n, qsizetype bytes);
    // Inline for the usual case, a head of one byte (a count or length under 24): most of
    // an answer's items, at a fraction of a call's cost each.
    void head(int major, quint64 n)
    {
        if (n < 24)
            *grow(1) = char(uchar(major << 5) | uchar(n));
        else
            headed(major, n, 0);
    }
    void item(int major, const char *data, qsizetype size)
    {
        if (size >= 24)
            return longItem(major, data, size);
        char *out = grow(1 + size);
        out[0] = char(uchar(major << 5) | uchar(size));
        if (size > 0)
            std::memcpy(out + 1, data, size_t(size));
    }
    void longItem(int major, const char *data, qsizetype size);
    // Room for n more bytes at the end. An answer is some fifty items, nearly all of which
    // fit the buffer kept from the last one: their size is set here, not by a call of
    // QByteArray::resize() each, which costs an item more than its bytes.
    char *grow(qsizetype n)
    {
        QByteArray::DataPointer &d = m_out.data_ptr();
        const qsizetype at = d.size;
        if (!d.needsDetach() && n <= d.freeSpaceAtEnd()) {
            d.size = at + n;
            d.data()[at + n] = '\0'; // a QByteArray's bytes end in a null one
            return d.data() + at;
        }
        m_out.resize(at + n);
        return m_out.data() + at;
    }
    QByteArray &m_out;
};

// Reads one CBOR item after the other from a byte range it does not own. Every fault
// (truncated, wrong type, nesting too deep) throws factory::Error 1000.
class CborReader
{
public:
    CborReader() = default;
    CborReader(const char *data, qsizetype size) { reset(data, size); }
    void reset(const char *data, qsizetype size)
    {
        m_p = reinterpret_cast<const uchar *>(data);
        m_end = m_p + size;
    }

    // Containers: for (auto c = r.enterMap(); r.more(c);) { key...; value... }
    struct Container
    {
        qint64 remaining; // -1: indefinite length, ends with a break
    };
    Container enterMap();
    Container enterArray();
    bool more(Container &c) { return c.remaining >= 0 ? c.remaining-- > 0 : moreIndefinite(); }

    quint8 peek() const; // the next item's initial byte
    bool isNull() const; // null or undefined next
    bool isText() const;
    bool isMap() const;
    bool isArray() const;
    // A map key or other short text without copying (chunked text is joined in a scratch buffer).
    // Inline for the usual case, a definite text of under 256 bytes: every key of every map.
    QByteArrayView textView()
    {
        if (m_p < m_end && (*m_p >> 6) == 1) { // major type 2 or 3
            const qsizetype left = m_end - m_p;
            const uchar info = *m_p & 0x1f;
            qsizetype at = 1, n = info;
            if (info == 24 && left >= 2) {
                at = 2;
                n = m_p[1];
            }
            if (info <= 24 && at + n <= left) {
                const QByteArrayView view(reinterpret_cast<const char *>(m_p + at), n);
                m_p += at + n;
                return view;
            }
        }
        return anyTextView();
    }
    QString text();
    qint64 integer(); // also accepts a double without fraction
    bool boolean();   // true/false, or an integer
    QVariant value(); // late-bound: QString, qint64, double, QVariantList, QVariantMap; null: QVariant()
    // Inline for the usual case: a short text, a small number, a simple value.
    void skip()
    {
        if (m_p < m_end) {
            const uchar info = *m_p & 0x1f;
            const int major = *m_p >> 5;
            if ((major <= 1 && info < 24) || (*m_p >= 0xf4 && *m_p <= 0xf7)) {
                ++m_p;
                return;
            }
            if ((major == 2 || major == 3) && info < 24 && m_end - m_p > info) {
                m_p += 1 + info;
                return;
            }
        }
        skipAt(0);
    }
    bool atEnd() const { return m_p >= m_end; }
    const char *position() const { return reinterpret_cast<const char *>(m_p); }

private:
    [[noreturn]] static void malformed();
    bool moreIndefinite();
    QByteArrayView anyTextView();
    int peekMajor() const;
    quint64 length(int major, bool &indefinite);
    quint64 argument(uchar info);
    QVariant valueAt(int depth);
    void skipAt(int depth);

    const uchar *m_p = nullptr;
    const uchar *m_end = nullptr;
    QByteArray m_scratch;
};

} // namespace wire
