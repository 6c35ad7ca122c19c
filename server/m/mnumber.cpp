#include "server/m/mnumber.h"

#include <QByteArray>

#include <array>
#include <limits>

namespace server::m {

namespace {

using Wide = unsigned __int128;

constexpr int MaxDigits = 19;
constexpr int WideDigits = 38;           // 10^38 < 2^128
constexpr long long ExponentCap = 1000000; // saturation keeps exponent sums far from overflow
constexpr int SmallestMagnitude = -127;  // below 1E-128 is 0
constexpr int LargestMagnitude = 146;    // 1E146 and up is too large

constexpr std::array<Wide, WideDigits + 1> makePowers()
{
    std::array<Wide, WideDigits + 1> p{};
    p[0] = 1;
    for (int i = 1; i <= WideDigits; ++i)
        p[i] = p[i - 1] * 10;
    return p;
}
constexpr auto Pow10 = makePowers();

int digitCount(Wide v)
{
    int n = 1;
    while (n <= WideDigits && v >= Pow10[n])
        ++n;
    return n;
}

} // namespace

Number Number::make(bool negative, Wide mant, long long exp, bool cut)
{
    Number n;
    if (mant == 0)
        return n;
    int digits = digitCount(mant);
    if (digits > MaxDigits) {
        const int drop = digits - MaxDigits;
        const Wide unit = Pow10[drop];
        Wide q = mant / unit;
        const Wide r = mant % unit;
        // Half away from zero. A fraction below the last digit of mant (see sum()) cannot
        // change that: r is an integer and the half of an even unit is one too.
        if (!cut && r * 2 >= unit)
            ++q;
        mant = q;
        exp += drop;
        if (mant >= Pow10[MaxDigits]) {
            mant /= 10;
            ++exp;
        }
    }
    while (mant % 10 == 0) {
        mant /= 10;
        ++exp;
    }
    digits = digitCount(mant);
    if (digits + exp < SmallestMagnitude)
        return n;
    if (exp > ExponentCap)
        exp = ExponentCap;
    n.m_neg = negative;
    n.m_mant = static_cast<quint64>(mant);
    n.m_exp = static_cast<int>(exp);
    return n;
}

Number Number::fromInt(qint64 value)
{
    const bool neg = value < 0;
    const Wide mag = neg ? Wide(-(value + 1)) + 1 : Wide(value);
    return make(neg, mag, 0);
}

Number Number::fromText(QStringView text, qsizetype *consumed)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    bool neg = false;
    while (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            neg = !neg;
        ++i;
    }
    Wide mant = 0;
    int kept = 0;
    long long exp = 0;
    bool anyDigit = false;
    auto take = [&](int digit, bool fraction) {
        anyDigit = true;
        if (kept == 0 && digit == 0) {
            if (fraction)
                --exp;
            return;
        }
        if (kept < WideDigits) {
            mant = mant * 10 + Wide(digit);
            ++kept;
            if (fraction)
                --exp;
        } else {
            if (!fraction && exp < ExponentCap)
                ++exp;
        }
    };
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        take(text[i].unicode() - u'0', false);
        ++i;
    }
    if (i < n && text[i] == u'.') {
        qsizetype j = i + 1;
        while (j < n && text[j].unicode() >= u'0' && text[j].unicode() <= u'9') {
            take(text[j].unicode() - u'0', true);
            ++j;
        }
        i = j;
    }
    if (anyDigit && i < n && text[i] == u'E') {
        qsizetype j = i + 1;
        bool eneg = false;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) {
            eneg = text[j] == u'-';
            ++j;
        }
        if (j < n && text[j].unicode() >= u'0' && text[j].unicode() <= u'9') {
            long long e = 0;
            while (j < n && text[j].unicode() >= u'0' && text[j].unicode() <= u'9') {
                if (e < ExponentCap)
                    e = e * 10 + (text[j].unicode() - u'0');
                ++j;
            }
            exp += eneg ? -e : e;
            i = j;
        }
    }
    if (consumed)
        *consumed = i;
    if (exp < -ExponentCap * 2)
        return {};
    return make(neg, mant, exp);
}

int Number::magnitude() const
{
    return digitCount(m_mant) + m_exp;
}

bool Number::tooLarge() const
{
    return m_mant != 0 && magnitude() > LargestMagnitude;
}

QString Number::canonic() const
{
    if (m_mant == 0)
        return QStringLiteral("0");
    QString digits = QString::number(m_mant);
    QString out;
    if (m_neg)
        out += u'-';
    if (m_exp >= 0) {
        out += digits;
        out += QString(m_exp, u'0');
    } else {
        const qsizetype point = digits.size() + m_exp;
        if (point > 0) {
            out += QStringView(digits).left(point);
            out += u'.';
            out += QStringView(digits).mid(point);
        } else {
            out += u'.';
            out += QString(-point, u'0');
            out += digits;
        }
    }
    return out;
}

double Number::toDouble() const
{
    if (m_mant == 0)
        return 0.0;
    QByteArray s;
    if (m_neg)
        s += '-';
    s += QByteArray::number(m_mant);
    s += 'e';
    s += QByteArray::number(m_exp);
    bool ok = false;
    const double d = s.toDouble(&ok);
    if (ok)
        return d;
    // out of double range
    const double inf = std::numeric_limits<double>::infinity();
    return m_exp > 0 ? (m_neg ? -inf : inf) : (m_neg ? -0.0 : 0.0);
}

qint64 Number::toInt() const
{
    constexpr qint64 Cap = 4000000000000000000LL;
    const Number t = truncated();
    if (t.m_mant == 0)
        return 0;
    if (t.magnitude() > 18)
        return t.m_neg ? -Cap : Cap;
    Wide v = t.m_mant;
    v *= Pow10[t.m_exp];
    qint64 r = v > Wide(Cap) ? Cap : static_cast<qint64>(v);
    return t.m_neg ? -r : r;
}

Number Number::negated() const
{
    Number n = *this;
    if (n.m_mant != 0)
        n.m_neg = !n.m_neg;
    return n;
}

Number Number::truncated() const
{
    if (m_exp >= 0 || m_mant == 0)
        return *this;
    const int digits = digitCount(m_mant);
    if (-m_exp >= digits)
        return {};
    return make(m_neg, Wide(m_mant) / Pow10[-m_exp], 0);
}

Number Number::floored() const
{
    const Number t = truncated();
    if (m_neg && compare(t, *this) != 0)
        return t - fromInt(1);
    return t;
}

Number Number::roundedTo(int decimals) const
{
    if (m_mant == 0 || m_exp >= -decimals)
        return *this;
    const long long drop = -static_cast<long long>(decimals) - m_exp;
    const int digits = digitCount(m_mant);
    if (drop > digits)
        return {};
    const Wide unit = Pow10[drop];
    Wide q = Wide(m_mant) / unit;
    const Wide r = Wide(m_mant) % unit;
    if (r * 2 >= unit)
        ++q;
    return make(m_neg, q, static_cast<long long>(m_exp) + drop);
}

QString Number::fixed(int decimals) const
{
    const Number r = roundedTo(decimals);
    QString digits = r.m_mant == 0 ? QStringLiteral("0") : QString::number(r.m_mant);
    long long exp = r.m_mant == 0 ? 0 : r.m_exp;
    if (exp > 0) {
        digits += QString(exp, u'0');
        exp = 0;
    }
    // now value = digits * 10^exp with -decimals <= exp <= 0
    const qsizetype fraction = -exp;
    if (fraction < decimals)
        digits += QString(decimals - fraction, u'0');
    QString intPart;
    QString fracPart;
    if (digits.size() > decimals) {
        intPart = digits.left(digits.size() - decimals);
        fracPart = digits.mid(digits.size() - decimals);
    } else {
        intPart = QStringLiteral("0");
        fracPart = QString(decimals - digits.size(), u'0') + digits;
    }
    QString out;
    if (r.m_neg && r.m_mant != 0)
        out += u'-';
    out += intPart;
    if (decimals > 0) {
        out += u'.';
        out += fracPart;
    }
    return out;
}

Number operator+(const Number &x, const Number &y) { return Number::sum(x, y, false); }

// The exact sum rounded once (or cut) to 19 digits. Where b lies further below a than the
// 38 digits of a Wide reach, b is shifted down and what falls off is kept as "a fraction
// below the last digit": a subtraction then takes one unit more, which leaves the digits
// that rounding or cutting looks at as they are in the exact result.
Number Number::sum(const Number &x, const Number &y, bool cut)
{
    if (x.m_mant == 0)
        return y;
    if (y.m_mant == 0)
        return x;
    const Number &a = x.m_exp >= y.m_exp ? x : y; // larger exponent
    const Number &b = x.m_exp >= y.m_exp ? y : x;
    const long long diff = static_cast<long long>(a.m_exp) - b.m_exp;
    Wide A;
    Wide B;
    long long exp;
    bool below = false; // b had digits below B's last one
    if (digitCount(a.m_mant) + diff <= WideDigits) {
        A = Wide(a.m_mant) * Pow10[diff];
        B = b.m_mant;
        exp = b.m_exp;
    } else {
        // |b| < |a| / 10^19 here: the result keeps at least 37 digits, so dropping b's
        // lowest digits changes only what rounding drops anyway.
        const int scale = WideDigits - digitCount(a.m_mant);
        A = Wide(a.m_mant) * Pow10[scale];
        exp = a.m_exp - scale;
        const long long shift = exp - b.m_exp;
        B = shift > WideDigits ? 0 : Wide(b.m_mant) / Pow10[shift];
        below = shift > WideDigits || Wide(b.m_mant) % Pow10[shift] != 0;
    }
    if (a.m_neg == b.m_neg)
        return make(a.m_neg, A + B, exp, cut);
    if (A > B)
        return make(a.m_neg, A - B - (below ? 1 : 0), exp, cut);
    return make(b.m_neg, B - A, exp, cut); // B >= A only without a dropped fraction
}

Number operator*(const Number &a, const Number &b)
{
    if (a.m_mant == 0 || b.m_mant == 0)
        return {};
    return Number::make(a.m_neg != b.m_neg, Number::Wide(a.m_mant) * b.m_mant,
                        static_cast<long long>(a.m_exp) + b.m_exp);
}

Number Number::divide(const Number &a, const Number &b)
{
    if (a.m_mant == 0 || b.m_mant == 0)
        return {};
    const int k = WideDigits - digitCount(a.m_mant);
    const Wide A = Wide(a.m_mant) * Pow10[k];
    Wide q = A / b.m_mant;
    const Wide r = A % b.m_mant;
    const long long exp = static_cast<long long>(a.m_exp) - k - b.m_exp;
    // with more than 19 digits make() rounds, and the remainder cannot move a half
    if (digitCount(q) <= MaxDigits && r * 2 >= b.m_mant)
        ++q;
    return make(a.m_neg != b.m_neg, q, exp);
}

Number Number::integerDivide(const Number &a, const Number &b)
{
    if (a.m_mant == 0 || b.m_mant == 0)
        return {};
    const bool neg = a.m_neg != b.m_neg;
    const long long d = static_cast<long long>(a.m_exp) - b.m_exp;
    if (d >= 0) {
        if (digitCount(a.m_mant) + d <= WideDigits)
            return make(neg, (Wide(a.m_mant) * Pow10[d]) / b.m_mant, 0);
        return divide(a, b).truncated(); // far beyond 19 digits anyway
    }
    if (digitCount(b.m_mant) - d > WideDigits)
        return {}; // divisor exceeds any dividend digits
    return make(neg, Wide(a.m_mant) / (Wide(b.m_mant) * Pow10[-d]), 0);
}

namespace {
// x * y mod m without overflow: both below m < 2^64.
Wide mulMod(Wide x, Wide y, Wide m) { return (x * y) % m; }

Wide pow10Mod(long long e, Wide m)
{
    Wide result = 1 % m;
    Wide base = 10 % m;
    while (e > 0) {
        if (e & 1)
            result = mulMod(result, base, m);
        base = mulMod(base, base, m);
        e >>= 1;
    }
    return result;
}
} // namespace

// Exact: |a| mod |b| is at most 19 digits. With different signs the answer is |b| less that,
// which may need more; it is cut, not rounded, so that it stays below the divisor.
Number Number::modulo(const Number &a, const Number &b)
{
    if (b.m_mant == 0 || a.m_mant == 0)
        return {};
    Wide rest;
    long long exp;
    if (a.m_exp >= b.m_exp) {
        const Wide B = b.m_mant;
        rest = mulMod(Wide(a.m_mant) % B, pow10Mod(static_cast<long long>(a.m_exp) - b.m_exp, B), B);
        exp = b.m_exp;
    } else {
        const long long d = static_cast<long long>(b.m_exp) - a.m_exp;
        rest = a.m_mant;
        if (digitCount(b.m_mant) + d <= WideDigits)
            rest %= Wide(b.m_mant) * Pow10[d];
        // else |b| > |a|: the remainder is |a| itself
        exp = a.m_exp;
    }
    if (rest == 0)
        return {};
    const Number r = make(b.m_neg, rest, exp);
    if (a.m_neg == b.m_neg)
        return r;
    return sum(b, r.negated(), true);
}

int Number::compare(const Number &a, const Number &b)
{
    const int sa = a.m_mant == 0 ? 0 : (a.m_neg ? -1 : 1);
    const int sb = b.m_mant == 0 ? 0 : (b.m_neg ? -1 : 1);
    if (sa != sb)
        return sa < sb ? -1 : 1;
    if (sa == 0)
        return 0;
    int mag;
    const int ma = a.magnitude();
    const int mb = b.magnitude();
    if (ma != mb) {
        mag = ma < mb ? -1 : 1;
    } else {
        const int da = digitCount(a.m_mant);
        const int db = digitCount(b.m_mant);
        const Wide A = Wide(a.m_mant) * Pow10[std::max(0, db - da)];
        const Wide B = Wide(b.m_mant) * Pow10[std::max(0, da - db)];
        mag = A < B ? -1 : (A > B ? 1 : 0);
    }
    return sa < 0 ? -mag : mag;
}

} // namespace server::m
