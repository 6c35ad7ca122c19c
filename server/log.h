#pragma once
#include <QString>

namespace server::log {

// One line on stdout, flushed at once; safe from any thread (test fixtures read it live).
// Control and direction characters of the text (client input among it) are escaped.
void line(const QString &text);
QString escaped(const QString &text);

} // namespace server::log
