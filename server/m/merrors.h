#pragma once
// Raising M errors with their documented numbers and names.

#include "server/m/mengine.h"

#include <QStringList>

namespace server::m {

[[noreturn]] void raise(int code, const QString &detail);

// A variable as the error texts show it: X, ^FA(1,"a")
QString formatReference(bool global, const QString &name, const QStringList &subscripts);

// A value cut down for an error text.
QString excerpt(const QString &text, qsizetype max = 40);

} // namespace server::m
