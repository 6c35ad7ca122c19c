#include "server/m/mstrings.h"

#include "server/m/merrors.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace server::m {

void checkLength(qint64 length)
{
    if (length > MaxStringLength)
        raise(ErrorCode::MaxString, u"Zeichenkette länger als %1 Zeichen"_s.arg(MaxStringLength));
}

namespace {

// Offset where piece `number` (>= 1) starts, or -1 when the text has fewer pieces.
qsizetype pieceStart(const QString &text, const QString &delimiter, qint64 number)
{
    qsizetype at = 0;
    for (qint64 k = 1; k < number; ++k) {
        const qsizetype p = text.indexOf(delimiter, at);
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
        const qsizetype p = text.indexOf(delimiter, at);
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
        const qsizetype p = text.indexOf(delimiter, at);
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
    const qsizetype p = text.indexOf(sub, start - 1);
    return p < 0 ? 0 : p + sub.size() + 1;
}

QString translate(const QString &text, const QString &from, const QString &to)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const qsizetype i = from.indexOf(c);
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
