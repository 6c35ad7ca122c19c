#include "server/m/mstrings.h"

#include "server/m/merrors.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace server::m {

void checkLength(qint64 length)
{
    if (length > MaxStringLength)
        raise(ErrorCode::MaxString, u"Zeichenkette länger als %1 Zeichen"_s.arg(MaxStringLength));
}

qsizetype search(QStringView text, QStringView sub, qsizetype from)
{
    // Short patterns cost Qt's search at most a few steps a character.
    constexpr qsizetype Short = 8;
    if (sub.size() <= Short || from < 0 || text.size() - from < sub.size())
        return text.indexOf(sub, from);
    // Knuth-Morris-Pratt: border[i] = length of the longest proper border of sub[0..i].
    std::vector<qint32> border(size_t(sub.size()), 0);
    for (qsizetype i = 1, k = 0; i < sub.size(); ++i) {
        while (k > 0 && sub[i] != sub[k])
            k = border[size_t(k - 1)];
        if (sub[i] == sub[k])
            ++k;
        border[size_t(i)] = qint32(k);
    }
    for (qsizetype i = from, k = 0; i < text.size(); ++i) {
        while (k > 0 && text[i] != sub[k])
            k = border[size_t(k - 1)];
        if (text[i] == sub[k] && ++k == sub.size())
            return i - sub.size() + 1;
    }
    return -1;
}

namespace {

// Offset where piece `number` (>= 1) starts, or -1 when the text has fewer pieces.
qsizetype pieceStart(const QString &text, const QString &delimiter, qint64 number)
{
    qsizetype at = 0;
    for (qint64 k = 1; k < number; ++k) {
        const qsizetype p = search(text, delimiter, at);
        if (p < 0)
            return -1;
        at = p + delimiter.size();
    }
    return at;
}

} // namespace

QString piece(const QString &text, const QString &delimiter, qint64 from, qint64 to)
{
    if (delimiter.isEmpty())
        return {};
    from = std::max<qint64>(from, 1);
    if (to < from)
        return {};
    const qsizetype start = pieceStart(text, delimiter, from);
    if (start < 0)
        return {};
    qsizetype at = start;
    for (qint64 k = from;; ++k) {
        const qsizetype p = search(text, delimiter, at);
        if (p < 0)
            return text.mid(start);
        if (k == to)
            return text.mid(start, p - start);
        at = p + delimiter.size();
    }
}

qint64 pieceCount(const QString &text, const QString &delimiter)
{
    if (delimiter.isEmpty())
        return 0;
    qint64 count = 1;
    qsizetype at = 0;
    for (;;) {
        const qsizetype p = search(text, delimiter, at);
        if (p < 0)
            return count;
        ++count;
        at = p + delimiter.size();
    }
}

QString extract(const QString &text, qint64 from, qint64 to)
{
    from = std::max<qint64>(from, 1);
    to = std::min<qint64>(to, text.size());
    if (from > to)
        return {};
    return text.mid(from - 1, to - from + 1);
}

qint64 find(const QString &text, const QString &sub, qint64 start)
{
    start = std::max<qint64>(start, 1);
    if (sub.isEmpty())
        return start;
    if (start - 1 > text.size())
        return 0;
    const qsizetype p = search(text, sub, start - 1);
    return p < 0 ? 0 : p + sub.size() + 1;
}

QString translate(const QString &text, const QString &from, const QString &to)
{
    QString out;
    out.reserve(text.size());
    // A long list of characters to replace is looked up in a table, not searched per character.
    std::unique_ptr<std::array<qint32, 65536>> table;
    if (from.size() > 16) {
        table = std::make_unique<std::array<qint32, 65536>>();
        table->fill(-1);
        for (qsizetype i = from.size() - 1; i >= 0; --i)
            (*table)[from[i].unicode()] = qint32(i);
    }
    for (QChar c : text) {
        const qsizetype i = table ? (*table)[c.unicode()] : from.indexOf(c);
        if (i < 0)
            out += c;
        else if (i < to.size())
            out += to[i];
    }
    return out;
}

QString justify(const QString &text, qint64 width)
{
    if (width <= text.size())
        return text;
    checkLength(width);
    return QString(width - text.size(), u' ') + text;
}

QString setPiece(const QString &old, const QString &delimiter, qint64 from, qint64 to,
                 const QString &value)
{
    if (delimiter.isEmpty() || to < from || to < 1)
        return old;
    from = std::max<qint64>(from, 1);
    const qint64 pieces = pieceCount(old, delimiter);
    if (pieces < from) {
        const qint64 missing = from - pieces;
        if (missing > MaxStringLength / delimiter.size())
            checkLength(MaxStringLength + 1);
        checkLength(old.size() + missing * delimiter.size() + value.size());
        return old + delimiter.repeated(missing) + value;
    }
    const qsizetype start = pieceStart(old, delimiter, from);
    QString out = old.left(start) + value;
    if (to < pieces) {
        const qsizetype end = pieceStart(old, delimiter, to + 1) - delimiter.size();
        out += QStringView(old).mid(end);
    }
    checkLength(out.size());
    return out;
}

QString setExtract(const QString &old, qint64 from, qint64 to, const QString &value)
{
    if (to < from || to < 1)
        return old;
    from = std::max<qint64>(from, 1);
    if (old.size() < from - 1) {
        checkLength(from - 1 + value.size());
        return old + QString(from - 1 - old.size(), u' ') + value;
    }
    QString out = old.left(from - 1) + value;
    if (to < old.size())
        out += QStringView(old).mid(to);
    checkLength(out.size());
    return out;
}

} // namespace server::m
