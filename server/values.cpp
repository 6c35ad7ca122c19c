#include "server/values.h"

#include "factory/cbor.h"

#include <QCborArray>

#include <limits>


using namespace Qt::StringLiterals;

namespace server::values {

QCborValue toCbor(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return QCborValue(QCborValue::Null);
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
        return value.toLongLong();
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const qulonglong u = value.toULongLong();
        if (u <= qulonglong(std::numeric_limits<qint64>::max()))
            return qint64(u);
        return double(u);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        if (value.isNull())
            return QCborValue(QCborValue::Null);
        return value.toString();
    }
}

void writeCbor(wire::CborWriter &w, const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        w.null();
        return;
    case QMetaType::QString:
        w.text(*static_cast<const QString *>(value.constData()));
        return;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
        w.integer(value.toLongLong());
        return;
    case QMetaType::ULongLong:
    case QMetaType::ULong: {
        const qulonglong u = value.toULongLong();
        if (u <= qulonglong(std::numeric_limits<qint64>::max()))
            w.integer(qint64(u));
        else
            w.real(double(u));
        return;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        w.real(value.toDouble());
        return;
    case QMetaType::Bool:
        w.integer(value.toBool() ? 1 : 0);
        return;
    case QMetaType::QByteArray:
        w.text(QString::fromUtf8(value.toByteArray()));
        return;
    default:
        if (value.isNull())
            w.null();
        else
            w.text(value.toString());
        return;
    }
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

QVariantList listFromCbor(const QCborValue &array)
{
    QVariantList list;
    const QCborArray items = array.toArray();
    list.reserve(items.size());
    for (const QCborValue &item : items)
        list.append(fromCbor(item));
    return list;
}

} // namespace server::values
