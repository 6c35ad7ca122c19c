#include "editors/linefeedcombobox.h"

#include <QStyledItemDelegate>
#include <QStylePainter>

using namespace Qt::StringLiterals;

namespace editors::choice {

namespace {
class OneLineDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = LineFeedComboBox::oneLine(option->text);
    }
};
} // namespace

LineFeedComboBox::LineFeedComboBox(QWidget *parent) : QComboBox(parent)
{
    setItemDelegate(new OneLineDelegate(this));
}

QString LineFeedComboBox::oneLine(const QString &text)
{
    QString line = text;
    return line.replace(u'\n', u"    "_s);
}

void LineFeedComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = oneLine(option.currentText);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

} // namespace editors::choice
