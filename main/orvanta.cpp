#include "main/orvanta.h"

#include "platform/platform.h"
#include "session/cacheapi.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace orvanta {

QString Dbpraefix;
QString Modus;

namespace {
const QString App = u"OrvantaWeb"_s;
const QString Section = u"Windowpos"_s;

// Leading numeric part, as a late-bound Val() reads it: "12abc" -> 12, "" -> 0.
double leadingNumber(const QString &text)
{
    qsizetype i = 0;
    const QString t = text.trimmed();
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        ++i;
    while (i < t.size() && (t[i].isDigit() || t[i] == u'.' || t[i] == u','))
        ++i;
    QString number = t.left(i);
    number.replace(u',', u'.');
    bool ok = false;
    const double v = number.toDouble(&ok);
    return ok ? v : 0.0;
}

QString general(double v)
{
    // General number format of the locale: no thousands separator, the locale's decimal sign.
    QString s = QString::number(v, 'g', 15);
    return QLocale().decimalPoint() == u","_s ? s.replace(u'.', u',') : s;
}
} // namespace

int twipsPerPixelX()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return qMax(1, int(1440.0 / dpi + 0.5));
}

int twipsPerPixelY()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return qMax(1, int(1440.0 / dpi + 0.5));
}

bool WindowposLaden(QWidget *window, const QString &key)
{
    const QString value = platform::GetSetting(App, Section, key);
    if (value.isEmpty())
        return false;
    const QStringList f = value.split(u'|');
    auto field = [&](int n) { return n < f.size() ? leadingNumber(f[n]) : 0.0; };
    const int tx = twipsPerPixelX(), ty = twipsPerPixelY();
    const int left = int(field(0) / tx), top = int(field(1) / ty);
    const int width = int(field(2) / tx), height = int(field(3) / ty);
    window->move(left, top);
    window->resize(qMax(width, window->minimumWidth()), qMax(height, window->minimumHeight()));
    return true;
}

void WindowposSichern(QWidget *window, const QString &key)
{
    if (window->isMinimized())
        return;
    const int tx = twipsPerPixelX(), ty = twipsPerPixelY();
    const QRect frame = window->frameGeometry();
    const QString value = general(frame.x() * tx) + u'|' + general(frame.y() * ty) + u'|' +
                          general(window->width() * tx) + u'|' + general(window->height() * ty);
    platform::SaveSetting(App, Section, key, value);
}

} // namespace orvanta
