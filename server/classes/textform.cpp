#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes {

namespace {
// Display character, server character; the order matters for neither direction
// because every character maps to exactly one other.
constexpr char16_t pairs[][2] = {
    {u'ä', u'{'}, {u'ö', u'|'}, {u'ü', u'}'}, {u'ß', u'~'},
    {u'Ä', u'['}, {u'Ö', u'\\'}, {u'Ü', u']'}, {u'§', u'õ'},
};

// Column `from` of the pairs to column `to`; other characters stay.
char16_t mapped(char16_t c, int from, int to)
{
    if (c < u'[') // below every character either side maps
        return c;
    for (const auto &p : pairs) {
        if (c == p[from])
            return p[to];
    }
    return c;
}

QString mapChars(const QString &text, int from, int to)
{
    // Most texts have none of them: the text itself, shared, not a copy.
    const auto first = std::find_if(text.cbegin(), text.cend(),
                                    [&](QChar c) { return mapped(c.unicode(), from, to) != c.unicode(); });
    if (first == text.cend())
        return text;
    QString out = text;
    for (auto it = out.begin() + (first - text.cbegin()); it != out.end(); ++it)
        *it = QChar(mapped(it->unicode(), from, to));
    return out;
}
} // namespace

QString toServerForm(const QString &display) { return mapChars(display, 0, 1); }
QString toDisplayForm(const QString &stored) { return mapChars(stored, 1, 0); }

bool sameInDisplayForm(QByteArrayView storedUtf8)
{
    // Every character either side maps is below U+0800: one or two bytes of UTF-8.
    for (qsizetype i = 0; i < storedUtf8.size(); ++i) {
        const auto b = uchar(storedUtf8[i]);
        char16_t c = b;
        if (b >= 0xc2 && b <= 0xdf && i + 1 < storedUtf8.size())
            c = char16_t(((b & 0x1f) << 6) | (uchar(storedUtf8[++i]) & 0x3f));
        if (mapped(c, 1, 0) != c)
            return false;
    }
    return true;
}

QString toSearchForm(const QString &display)
{
    QString out;
    out.reserve(display.size() + 4);
    for (QChar c : display) {
        switch (c.unicode()) {
        case u'ß': out += u"SS"_s; break;
        case u'ä': case u'Ä': out += u"AE"_s; break;
        case u'ö': case u'Ö': out += u"OE"_s; break;
        case u'ü': case u'Ü': out += u"UE"_s; break;
        default: out += c.toUpper(); break;
        }
    }
    return out;
}

} // namespace server::classes
