#include "session/cacheapi.h"

#include <QLineEdit>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace cacheapi {
namespace {
constexpr qsizetype MaxTextLength = 32766;

void checkLength(const QString &text, const char *what)
{
    if (text.size() > MaxTextLength)
        throw std::length_error(std::string(what) + ": Text länger als 32766 Zeichen");
}

QString upperKeepingSharpS(const QString &text)
{
    // Character by character: the full mapping would turn "ß" into "SS".
    QString out = text;
    for (QChar &c : out)
        c = c.toUpper();
    return out;
}

struct Replacement
{
    QString from, to;
};

const QList<Replacement> &toServer()
{
    static const QList<Replacement> list{{u"ä"_s, u"{"_s}, {u"ö"_s, u"|"_s}, {u"ü"_s, u"}"_s}, {u"ß"_s, u"~"_s},
                                         {u"Ä"_s, u"["_s}, {u"Ö"_s, u"\\"_s}, {u"Ü"_s, u"]"_s}, {u"§"_s, u"õ"_s}};
    return list;
}
const QList<Replacement> &toDisplay()
{
    static const QList<Replacement> list{{u"{"_s, u"ä"_s}, {u"|"_s, u"ö"_s}, {u"}"_s, u"ü"_s}, {u"~"_s, u"ß"_s},
                                         {u"["_s, u"Ä"_s}, {u"\\"_s, u"Ö"_s}, {u"]"_s, u"Ü"_s}, {u"õ"_s, u"§"_s}};
    return list;
}
const QList<Replacement> &toSearch()
{
    static const QList<Replacement> list{
        {u"ß"_s, u"SS"_s}, {u"Ä"_s, u"AE"_s}, {u"Ö"_s, u"OE"_s}, {u"Ü"_s, u"UE"_s}};
    return list;
}
} // namespace

QString ConvertText(const QString &text, const QString &mode, bool upper)
{
    QString out = upper ? upperKeepingSharpS(text) : text;
    const QList<Replacement> *table = nullptr;
    if (mode == u"RUZAVAVIR")
        table = &toServer();
    else if (mode == u"VARELO")
        table = &toDisplay();
    else if (mode == u"VARELOSUCHE")
        table = &toSearch();
    if (!table)
        return out;
    for (const Replacement &r : *table)
        out = ReplaceText(out, r.from, r.to);
    return out;
}

QString ReplaceText(const QString &text, const QString &search, const QString &replacement)
{
    if (search.isEmpty())
        throw std::invalid_argument("ReplaceText: leerer Suchtext");
    checkLength(text, "ReplaceText");
    QString out;
    out.reserve(text.size());
    qsizetype pos = 0;
    while (pos < text.size()) {
        if (QStringView(text).mid(pos).startsWith(search)) {
            out += replacement;
            pos += search.size();
        } else {
            out += text[pos];
            ++pos;
        }
    }
    return out;
}

QString Piece(const QString &text, const QString &delimiter, int n, const QString &defaultValue)
{
    if (text.isEmpty())
        return {};
    checkLength(text, "Piece");
    if (n < 1)
        return defaultValue;
    if (delimiter.isEmpty())
        return n == 1 ? text : defaultValue;
    int field = 1;
    qsizetype start = 0;
    while (field < n) {
        const qsizetype at = text.indexOf(delimiter, start);
        if (at < 0)
            return defaultValue;
        start = at + delimiter.size();
        ++field;
    }
    const qsizetype end = text.indexOf(delimiter, start);
    const QString result = end < 0 ? text.mid(start) : text.mid(start, end - start);
    return result.isEmpty() ? defaultValue : result;
}

int PieceCount(const QString &text, QChar delimiter)
{
    if (text.isEmpty())
        return 0;
    const int count = int(text.count(delimiter));
    return text.endsWith(delimiter) ? count : count + 1;
}

void SelectAllText(QLineEdit *box, bool noFocus)
{
    if (!box)
        return;
    box->setSelection(0, int(box->text().size()));
    if (!noFocus)
        box->setFocus(Qt::OtherFocusReason);
}

QString ScramblePassword(const QString &text)
{
    if (text.size() > 255)
        throw std::invalid_argument("ScramblePassword: mehr als 255 Zeichen");
    constexpr char16_t Key = 0x17;
    QString out = text;
    for (QChar &c : out)
        c = QChar(char16_t(c.unicode() ^ Key));
    return out;
}

} // namespace cacheapi
