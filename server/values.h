#pragma once
// Late-bound values between the wire (CBOR) and class code (QVariant): text, integers,
// doubles and "no value".

#include "factory/values.h"

#include <QCborValue>
#include <QString>
#include <QVariant>
#include <QVariantList>

namespace wire {
class CborReader;
class CborWriter;
}

namespace server::values {

QCborValue toCbor(const QVariant &value);
// The same as toCbor(value) writes, straight onto the wire.
void writeCbor(wire::CborWriter &w, const QVariant &value);
QVariant fromCbor(const QCborValue &value);
// The same as fromCbor() makes of the next item, read straight off the wire.
QVariant read(wire::CborReader &r);
// Text form of a value: the client's rule (factory::toText), never an exponent.
inline QString text(const QVariant &value) { return factory::toText(value); }

} // namespace server::values
