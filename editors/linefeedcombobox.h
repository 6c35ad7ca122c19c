#pragma once
// A combo box whose entry texts carry several fields separated by line feeds
// ("Müller Bau GmbH\n10001"). The texts stay as they are (the window reads its fields
// back from them); only the drawing puts the fields side by side on one line.

#include <QComboBox>

namespace editors::choice {

class LineFeedComboBox final : public QComboBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LineFeedComboBox)

public:
    explicit LineFeedComboBox(QWidget *parent = nullptr);

    static QString oneLine(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace editors::choice
