#pragma once
// A German date field (dd.mm.yyyy) that is typed like text: select all and type
// "15.03.2026" or "15032026", or overtype the day, the month or the year where they stand.
// Day and month may be given with one digit ("1.3.2026"), the year with two ("1.3.26").

#include <QDate>
#include <QLineEdit>

class DateField final : public QLineEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DateField)
public:
    explicit DateField(QWidget *parent = nullptr);

    QDate date() const; // invalid while the text is no date
    void setDate(const QDate &date);

    static QDate parse(const QString &text);

Q_SIGNALS:
    void dateChanged(const QDate &date); // also to an invalid date
};
