#include "server/log.h"

#include <cstdio>
#include <mutex>

namespace server::log {

namespace {
// Characters a client could use to end a line, move the cursor, recolour a terminal or turn
// text around: written as \xHH or \uHHHH, so every event stays one readable line.
bool needsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || (c >= 0x200B && c <= 0x200F)
        || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF
        || QChar::isSurrogate(c); // a lone half from a bad text; pairs are kept below
}
} // namespace

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += text[i];
            out += text[++i];
        } else if (needsEscape(c)) {
            out += c <= 0xFF ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        } else {
            out += text[i];
        }
    }
    return out;
}

void line(const QString &text)
{
    static std::mutex mutex;
    const QByteArray bytes = escaped(text).toUtf8() + '\n';
    std::lock_guard lock(mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace server::log
