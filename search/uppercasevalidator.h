#pragma once
// Shows what is typed in capitals, letter by letter, as a masked field with ">" does:
// "ß" has no capital of its own and stays (the search form turns it into "SS" later).

#include <QValidator>

class UpperCaseValidator final : public QValidator
{
    Q_OBJECT
public:
    explicit UpperCaseValidator(QObject *parent = nullptr) : QValidator(parent) {}

    State validate(QString &input, int &pos) const override
    {
        Q_UNUSED(pos)
        for (QChar &c : input)
            c = c.toUpper();
        return Acceptable;
    }
};
