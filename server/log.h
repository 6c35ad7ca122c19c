#pragma once
#include <QString>

namespace server::log {

// One line on stdout, flushed at once; safe from any thread (test fixtures read it live).
void line(const QString &text);

} // namespace server::log
