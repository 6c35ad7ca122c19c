#include "factory/values.h"

#include <QLocale>

#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace factory {

namespace {

// The leading number of a text: blanks, one sign, digits with at most one point, an
// exponent only when digits follow it. Answers where it ends (begin == end: no number).
struct NumberSpan
{
    qsizetype begin = 0;
    qsizetype end = 0;
    bool digits = false;
};

NumberSpan scanNumber(QStringView s)
{
    NumberSpan span;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && (s[i] == u' ' || s[i] == u'\t'))
        ++i;
    span.begin = span.end = i;
    if (i < n && (s[i] == u'+' || s[i] == u'-'))
        ++i;
    auto isDigit = [&](qsizetype k) { return k < n && s[k] >= u'0' && s[k] <= u'9'; };
    while (isDigit(i)) {
        ++i;
        span.digits = true;
    }
    if (i < n && s[i] == u'.') {
        ++i;
        while (isDigit(i)) {
            ++i;
            span.digits = true;
        }
    }
    if (!span.digits)
        return span;
    span.end = i;
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        qsizetype k = i + 1;
        if (k < n && (s[k] == u'+' || s[k] == u'-'))
            ++k;
        if (isDigit(k)) {
            while (isDigit(k))
                ++k;
            span.end = k;
        }
    }
    return span;
}

double parseSpan(QStringView s, const NumberSpan &span)
{
    if (!span.digits)
        return 0;
    // from_chars knows no '+' and no locale; the span is ASCII by construction.
    char stack[64];
    QByteArray heap;
    const qsizetype len = span.end - span.begin;
    char *buf = stack;
    if (len > qsizetype(sizeof stack)) {
        heap.resize(len);
        buf = heap.data();
    }
    qsizetype k = 0;
    for (qsizetype i = span.begin; i < span.end; ++i) {
        const char c = char(s[i].unicode());
        if (c != '+')
            buf[k++] = c;
    }
    double v = 0;
    const auto result = std::from_chars(buf, buf + k, v);
    if (result.ec == std::errc::result_out_of_range)
        return buf[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    return v;
}

bool isNumberType(int type)
{
    switch (type) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

bool looksNumeric(const QVariant &v)
{
    if (isNumberType(v.typeId()))
        return true;
    if (v.typeId() != QMetaType::QString)
        return false;
    const QString &s = *static_cast<const QString *>(v.constData());
    const NumberSpan span = scanNumber(s);
    if (!span.digits)
        return false;
    for (qsizetype i = span.end; i < s.size(); ++i)
        if (s[i] != u' ' && s[i] != u'\t')
            return false;
    return true;
}

QString formatDouble(double d)
{
    if (!std::isfinite(d))
        return QString::number(d);
    if (std::trunc(d) == d && std::abs(d) < 1e18)
        return QString::number(qint64(d)); // also turns -0 into "0"
    return QString::number(d, 'f', QLocale::FloatingPointShortest);
}

} // namespace

QString toText(const QVariant &v)
{
    if (v.isNull())
        return {}; // also a typed null, as SQL NULL reads
    switch (v.typeId()) {
    case QMetaType::QString:
        return *static_cast<const QString *>(v.constData());
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return {};
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UInt:
    case QMetaType::UShort:
        return QString::number(v.toLongLong());
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return QString::number(v.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return formatDouble(v.toDouble());
    case QMetaType::Bool:
        return v.toBool() ? u"1"_s : u"0"_s;
    default:
        return v.toString();
    }
}

double toNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QString: {
        const QString &s = *static_cast<const QString *>(v.constData());
        return parseSpan(s, scanNumber(s));
    }
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return 0;
    default:
        if (isNumberType(v.typeId()))
            return v.toDouble();
        const QString s = v.toString();
        return parseSpan(s, scanNumber(s));
    }
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (looksNumeric(a) && looksNumeric(b))
        return toNumber(a) == toNumber(b);
    return toText(a) == toText(b);
}

} // namespace factory
