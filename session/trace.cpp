#include "session/cacheapi.h"
#include "session/frmProgrammverlauf.h"
#include "session/forms.h"

#include "platform/messagebox.h"

#include <QApplication>

using namespace Qt::StringLiterals;

namespace cacheapi {

void Trace(const QString &source, const QString &step, const QString &detail, int level)
{
    try {
        if (level > 254)
            return;
        // Without a widget application (command-line tools, plain tests) there is no window to fill.
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return;
        // After Ende has unloaded the windows, its closing line must not bring one back.
        frmProgrammverlauf *window = Beendet ? formIfLoaded<frmProgrammverlauf>() : form<frmProgrammverlauf>();
        if (window)
            window->addLine(source, step, detail);
    } catch (...) {
    }
}

void CacheFehlermeldung(int number, const QString &description, const QString &text)
{
    const QString nl = u"\r\n"_s;
    const QString message = u"Vorgang: "_s + text + u"."_s + nl + nl + u"Fehler: "_s + QString::number(number) +
                            nl + description + nl + nl;
    QWidget *owner = qobject_cast<QApplication *>(QCoreApplication::instance()) ? QApplication::activeWindow()
                                                                                 : nullptr;
    platform::messageBox(owner, message, platform::Buttons::Ok, platform::Icon::Warning, u"Caché Zugriffsfehler"_s);
    Trace(u"cacheapi.CacheFehlermeldung"_s, text,
          u"Fehler #"_s + QString::number(number) + u" "_s + description, 0);
    EndServerWork(true);
}

void CacheFehlermeldung(const factory::Error &error, const QString &text)
{
    CacheFehlermeldung(error.number(), error.description(), text);
}

void CacheFehlermeldung(const std::exception &error, const QString &text)
{
    if (const auto *e = dynamic_cast<const factory::Error *>(&error)) {
        CacheFehlermeldung(*e, text);
        return;
    }
    CacheFehlermeldung(0, QString::fromUtf8(error.what()), text);
}

} // namespace cacheapi
