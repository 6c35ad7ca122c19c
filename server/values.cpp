#include "server/values.h"

#include "factory/cbor.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace server::values {

namespace {
// The one mapping of a stored value onto the wire's kinds (null, text, integer, double), for
// both writers below. to: null(), text(QString), integer(qint64), real(double).
template<typename To>
void onWire(const QVariant &value, To &&to)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return to.null();
    case QMetaType::QString:
        return to.text(*static_cast<const QString *>(value.constData()));
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
        return to.integer(value.toLongLong());
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const qulonglong u = value.toULongLong();
        if (u <= qulonglong(std::numeric_limits<qint64>::max()))
            return to.integer(qint64(u));
        return to.real(double(u));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return to.real(value.toDouble());
    case QMetaType::Bool:
        return to.integer(value.toBool() ? 1 : 0);
    case QMetaType::QByteArray:
        return to.text(QString::fromUtf8(value.toByteArray()));
    default:
        if (value.isNull())
            return to.null();
        return to.text(value.toString());
    }
}
} // namespace

QCborValue toCbor(const QVariant &value)
{
    struct
    {
        QCborValue out;
        void null() { out = QCborValue(QCborValue::Null); }
        void text(const QString &t) { out = t; }
        void integer(qint64 i) { out = i; }
        void real(double d) { out = d; }
    } to;
    onWire(value, to);
    return to.out;
}

void writeCbor(wire::CborWriter &w, const QVariant &value)
{
    struct
    {
        wire::CborWriter &w;
        void null() { w.null(); }
        void text(const QString &t) { w.text(t); }
        void integer(qint64 i) { w.integer(i); }
        void real(double d) { w.real(d); }
    } to{w};
    onWire(value, to);
}

QVariant fromCbor(const QCborValue &value)
{
    switch (value.type()) {
    case QCborValue::String:
        return value.toString();
    case QCborValue::Integer:
        return value.toInteger();
    case QCborValue::Double:
        return value.toDouble();
    case QCborValue::True:
        return 1;
    case QCborValue::False:
        return 0;
    case QCborValue::ByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return {};
    }
}

QVariant read(wire::CborReader &r)
{
    const quint8 initial = r.peek();
    switch (initial >> 5) {
    case 0:
    case 1:
        return r.value(); // an integer, or a double beyond qint64 as the value tree has it
    case 2:
    case 3:
        return r.text();
    case 7:
        if (initial == 0xf5 || initial == 0xf4) {
            r.skip();
            return initial == 0xf5 ? 1 : 0;
        }
        if (initial >= 0xf9 && initial <= 0xfb)
            return r.value();
        break;
    default:
        break;
    }
    r.skip();
    return {};
}

} // namespace server::values
