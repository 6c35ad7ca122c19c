#pragma once
// Late-bound value helpers, the one rule for both ends: the server turns values into text
// the same way, so that what M reads back as a number is the number that was sent.

#include <QString>
#include <QVariant>

namespace factory {

// "1" and 1 compare equal where a caller tests a number.
QString toText(const QVariant &v);  // numbers as plain decimals (1, 0.5, -3, 1e16 in 17 digits), true "1"
double toNumber(const QVariant &v); // leading numeric part, "" and "abc" give 0
bool sameValue(const QVariant &a, const QVariant &b); // numeric compare when both look numeric

} // namespace factory
