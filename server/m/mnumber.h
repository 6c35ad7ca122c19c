#pragma once
// Decimal numbers as M computes them: up to 19 significant digits and a decimal exponent,
// so .1+.2 is .3 and 18-digit integers stay exact (doubles would give neither).

#include <QString>
#include <QStringView>

namespace server::m {

class Number
{
public:
    Number() = default;
    static Number fromInt(qint64 value);
    // M numeric interpretation of the leading part of text: signs, digits, ".", "E"exponent.
    // Never fails; values below 1E-128 become 0, huge ones saturate (see tooLarge()).
    static Number fromText(QStringView text, qsizetype *consumed = nullptr);

    QString canonic() const;
    bool isZero() const { return m_mant == 0; }
    bool isNegative() const { return m_neg; }
    bool isInteger() const { return m_exp >= 0 || m_mant == 0; }
    bool tooLarge() const; // 1E146 or more in size: beyond what M holds
    double toDouble() const;
    qint64 toInt() const; // truncated toward zero, clamped to +-4E18

    Number negated() const;
    Number truncated() const;
    Number floored() const;
    Number roundedTo(int decimals) const; // half away from zero
    // Fixed notation with exactly `decimals` places and a leading "0" before the point.
    QString fixed(int decimals) const;

    friend Number operator+(const Number &a, const Number &b);
    friend Number operator-(const Number &a, const Number &b) { return a + b.negated(); }
    friend Number operator*(const Number &a, const Number &b);
    static Number divide(const Number &a, const Number &b);        // b must not be 0
    static Number integerDivide(const Number &a, const Number &b); // truncated quotient
    static Number modulo(const Number &a, const Number &b);        // sign of b, as M's #
    static int compare(const Number &a, const Number &b);

private:
    using Wide = unsigned __int128;
    // Rounds to 19 digits, half away from zero; cut: drops the digits beyond instead.
    static Number make(bool negative, Wide mantissa, long long exponent, bool cut = false);
    static Number sum(const Number &a, const Number &b, bool cut);
    int magnitude() const; // digits + exponent: 10^(m-1) <= |x| < 10^m

    bool m_neg = false;
    quint64 m_mant = 0; // no trailing zeros, at most 19 digits
    int m_exp = 0;
};

} // namespace server::m
