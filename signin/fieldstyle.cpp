#include "signin/fieldstyle.h"

#include <QApplication>
#include <QLineEdit>

namespace signin {

void setFieldEditable(QLineEdit *field, bool editable)
{
    QPalette palette = QApplication::palette(field);
    if (!editable) {
        const QColor grey = palette.color(QPalette::Active, QPalette::Button);
        palette.setColor(QPalette::Active, QPalette::Base, grey);
        palette.setColor(QPalette::Inactive, QPalette::Base, grey);
        palette.setColor(QPalette::Disabled, QPalette::Base, grey);
    }
    field->setPalette(palette);
    field->setEnabled(editable);
}

} // namespace signin
