#include "session/cacheapi.h"

using namespace Qt::StringLiterals;

namespace cacheapi {

QString Firma = u"1"_s;
QString Filiale = u"0"_s;
QString Personalcode;
QString Passwort;
QString Benutzer;
QString AnmeldeFirma;
QString Standort;
QString StandortText;
QString GeraeteStandort;
QString ServerIP = DefaultServerIP;
QString Port = u"1973"_s;
QString Namespace = u"VARELO"_s;
QString WJ;
QString ServerObjekt;
QString ConnString;
QString Kommandozeile;
bool DialogPflicht = false;
bool AnmeldungFehlgeschlagen = false;
bool KommandozeileVerbraucht = false;
bool Beendet = false;
bool FirmaBleibt = false;
int BusyDepth = 0;
Profil profil;
std::unique_ptr<factory::Factory> Factory;

namespace {
SignInUi *g_signInUi = nullptr;
}

void setSignInUi(SignInUi *ui) { g_signInUi = ui; }
SignInUi *signInUi() { return g_signInUi; }

void resetSession()
{
    if (Factory) {
        try {
            if (Factory->IsConnected())
                Factory->Disconnect();
        } catch (...) {
        }
        Factory.reset();
    }
    Firma = u"1"_s;
    Filiale = u"0"_s;
    Personalcode.clear();
    Passwort.clear();
    Benutzer.clear();
    AnmeldeFirma.clear();
    Standort.clear();
    StandortText.clear();
    GeraeteStandort.clear();
    ServerIP = DefaultServerIP;
    Port = u"1973"_s;
    Namespace = u"VARELO"_s;
    WJ.clear();
    ServerObjekt.clear();
    Kommandozeile.clear();
    DialogPflicht = false;
    AnmeldungFehlgeschlagen = false;
    KommandozeileVerbraucht = false;
    Beendet = false;
    FirmaBleibt = false;
    BusyDepth = 0;
    profil = Profil{};
    ConnectionFields::instance().reset();
    BuildConnString();
}

} // namespace cacheapi
