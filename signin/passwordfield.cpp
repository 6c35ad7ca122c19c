#include "signin/passwordfield.h"

#include <QLineEdit>
#include <QProxyStyle>

namespace signin {
namespace {
class StarMaskStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return u'*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
} // namespace

void showPasswordAsStars(QLineEdit *field)
{
    auto *style = new StarMaskStyle;
    style->setParent(field); // a widget does not own the style it is given
    field->setStyle(style);
    field->setEchoMode(QLineEdit::Password);
}

} // namespace signin
