#pragma once
// Making instances from server answers; shared by the factory and the instance code.

#include "factory/factory.h"

namespace factory {

InstancePtr openInstance(const std::shared_ptr<Connection> &conn, const QString &className, const QString &id);
InstancePtr newInstance(const std::shared_ptr<Connection> &conn, const QString &className,
                        const QVariant &initialValue);

// Late-bound callers have no null: a missing value reads as "".
inline QVariant lateBound(QVariant v)
{
    if (!v.isValid())
        return QVariant(QString());
    return v;
}

} // namespace factory
