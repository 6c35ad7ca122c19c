#pragma once
// Late-bound values between the wire (CBOR) and class code (QVariant): text, integers,
// doubles and "no value".

#include <QCborValue>
#include <QString>
#include <QVariant>
#include <QVariantList>

namespace server::values {

QCborValue toCbor(const QVariant &value);
QVariant fromCbor(const QCborValue &value);
QVariantList listFromCbor(const QCborValue &array);
// Text form of a value: integers plainly, doubles without exponent where possible.
QString text(const QVariant &value);

} // namespace server::values
