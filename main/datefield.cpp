#include "main/datefield.h"

using namespace Qt::StringLiterals;

DateField::DateField(QWidget *parent) : QLineEdit(parent)
{
    setInputMask(u"00.00.0000"_s);
    connect(this, &QLineEdit::textChanged, this, [this] { Q_EMIT dateChanged(date()); });
}

QDate DateField::date() const { return parse(text()); }

void DateField::setDate(const QDate &date) { setText(date.toString(u"dd.MM.yyyy"_s)); }

QDate DateField::parse(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 3)
        return {};
    bool okDay = false, okMonth = false, okYear = false;
    const QString yearText = parts[2].trimmed();
    const int day = parts[0].trimmed().toInt(&okDay);
    const int month = parts[1].trimmed().toInt(&okMonth);
    int year = yearText.toInt(&okYear);
    if (!okDay || !okMonth || !okYear || (yearText.size() != 2 && yearText.size() != 4))
        return {};
    if (yearText.size() == 2)
        year += 2000;
    return QDate(year, month, day); // invalid for 31.02. and the like
}
