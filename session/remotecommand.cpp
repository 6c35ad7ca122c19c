#include "session/cacheapi.h"

using namespace Qt::StringLiterals;

namespace cacheapi {

QString dbCall(const QString &command, bool &failed, bool silent)
{
    QString answer;
    try {
        // A connection that cannot be prepared is reported here like a failed command.
        BeginServerWork();
        if (Beendet) { // the program is ending: nothing more goes to the server
            EndServerWork();
            failed = true;
            return u" "_s;
        }
        auto windows = Factory->Static(u"VR.Windows"_s);
        answer = factory::toText(windows->call(u"Xecute"_s, {command}));
        CloseObject(windows);
    } catch (const std::exception &e) {
        EndServerWork();
        failed = true;
        const factory::Error *fe = dynamic_cast<const factory::Error *>(&e);
        const QString description = fe ? fe->description() : QString::fromUtf8(e.what());
        if (!silent)
            CacheFehlermeldung(e, u"cacheapi.dbcall Ungültige Anfrage! Kein Ergebnis gefunden\r\n\r\n"
                                  u"DBCall Aufruf von VR.Windwos Xecute "_s + command);
        Trace(u"dbCall"_s, u"Command_:"_s + command, description, 0);
        return u" "_s;
    }
    EndServerWork();
    return answer;
}

} // namespace cacheapi
