#pragma once
// The string functions of M on plain values. Positions are counted from 1 as in M.
// Functions that may grow a string check the result against MaxStringLength first.

#include <QString>

namespace server::m {

QString piece(const QString &text, const QString &delimiter, qint64 from, qint64 to);
qint64 pieceCount(const QString &text, const QString &delimiter); // $LENGTH(text, delimiter)
QString extract(const QString &text, qint64 from, qint64 to);
qint64 find(const QString &text, const QString &sub, qint64 start);
QString translate(const QString &text, const QString &from, const QString &to);
QString justify(const QString &text, qint64 width);

// SET $PIECE(var, delimiter, from, to) = value on the variable's old value.
QString setPiece(const QString &old, const QString &delimiter, qint64 from, qint64 to,
                 const QString &value);
// SET $EXTRACT(var, from, to) = value.
QString setExtract(const QString &old, qint64 from, qint64 to, const QString &value);

// Offset of the first `sub` in `text` at or after `from`, -1 when none; time linear in both
// sizes (a plain search can take |text| * |sub| steps on texts of blanks). `[` uses it too.
qsizetype search(QStringView text, QStringView sub, qsizetype from = 0);

// Throws <MAXSTRING> when a result of that many characters would be too long.
void checkLength(qint64 length);

} // namespace server::m
