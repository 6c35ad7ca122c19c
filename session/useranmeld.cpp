#include "session/cacheapi.h"

#include "factory/signin.h"
#include "platform/messagebox.h"
#include "platform/platform.h"

#include <QApplication>

using namespace Qt::StringLiterals;

namespace cacheapi {
namespace {
QWidget *owner()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) ? QApplication::activeWindow() : nullptr;
}

QString text(const factory::InstancePtr &object, const QString &property)
{
    return factory::toText(object->get(property));
}

QString display(const factory::InstancePtr &object, const QString &property, const QString &method)
{
    return factory::toText(object->call(method, {object->get(property)}));
}

void hideDialogs()
{
    SignInUi *ui = signInUi();
    if (!ui)
        return;
    try {
        ui->hideSignInDialog();
    } catch (...) {
    }
    try {
        ui->hideServerWindow();
    } catch (...) {
    }
}

// A sign-in that ended in a failure report: the next attempt needs the dialog.
bool failedSignIn(const std::exception &e, const QString &operation, bool endWork)
{
    if (endWork)
        EndServerWork();
    AnmeldungFehlgeschlagen = true;
    DialogPflicht = true;
    CacheFehlermeldung(e, u"cacheapi.user_anmeld "_s + operation);
    return false;
}
} // namespace

bool user_anmeld()
{
    Benutzer.clear();
    AnmeldeFirma.clear();
    try {
        if (Kommandozeile.isEmpty() && !KommandozeileVerbraucht)
            Kommandozeile = platform::commandLine();
        LoadConnectionSettings();
    } catch (const std::exception &e) {
        return failedSignIn(e, u"Verbindungsdaten laden"_s, false);
    }
    if (Beendet)
        return false;
    try {
        BeginServerWork();
    } catch (const std::exception &e) {
        return failedSignIn(e, u"Verbindungsaufbau"_s, true);
    }
    if (Beendet)
        return false;

    QString operation = u"Anmeldung mit nicht existierendem Personalcode"_s;
    bool result = false;
    try {
        const QString code = ConvertText(Personalcode, u"RUZAVAVIR"_s, true);
        auto pers = Factory->OpenId(u"VR.ParPersEdv"_s, Firma + u"||"_s + code);
        operation = u"Benutzerprüfung"_s;
        // The password is checked where it is kept: the server answers no row for a wrong
        // one, and signs this connection in for a right one of an active user.
        // A connection made just now for this sign-in has checked the same already.
        const std::optional<QString> prepared = takePreparedPasswordCheck(Passwort, Firma, code);
        const bool passwordRight =
            !(prepared ? *prepared : factory::checkPassword(*Factory, Passwort, Firma, code)).isEmpty();
        if (!passwordRight || text(pers, u"AKTIV"_s) != u"J") {
            platform::messageBox(owner(), u"Passwort Falsch oder Benutzer nicht Aktiv."_s, platform::Buttons::Ok,
                                 platform::Icon::Information, u"Anmeldung an Caché."_s);
            AnmeldungFehlgeschlagen = true;
            if (SignInUi *ui = signInUi())
                ui->selectPasswordText();
            CloseObject(pers);
        } else if (text(pers, u"FAJN"_s) == u"N" && Standort != GeraeteStandort) {
            platform::messageBox(owner(), u"Sie dürfen die Filiale nicht verändern."_s, platform::Buttons::Ok,
                                 platform::Icon::Information, u"Anmeldung an VARELO."_s);
            AnmeldungFehlgeschlagen = true;
            CloseObject(pers);
        } else {
            const QString name = display(pers, u"PNAME"_s, u"PNAMELogicalToODBC"_s);
            Benutzer = Personalcode + u"|"_s + name;
            profil.PNAME = name;
            profil.PNR = text(pers, u"PNR"_s);
            profil.DW = text(pers, u"DW"_s);
            profil.BERGRP = text(pers, u"BERGRP"_s);

            operation = u"Abteilungsermittlung"_s;
            auto abt = Factory->OpenId(u"VR.ParPersAbt"_s, Firma + u"||"_s + text(pers, u"ABTNR"_s));
            profil.ABTBEZ = display(abt, u"abtbez"_s, u"ABTBEZlogicaltoodbc"_s);
            profil.ABTNR = text(abt, u"ABTNR"_s);
            profil.HAbtNr = text(abt, u"HAbtNr"_s);
            CloseObject(abt);

            operation = u"PersBasis Nummern"_s;
            auto basis = Factory->OpenId(u"VR.PersBasis"_s, Firma + u"||"_s + text(pers, u"PNR"_s));
            profil.Fax = text(basis, u"Fax"_s);
            profil.EMail = display(basis, u"EMail"_s, u"EMailLogicalToODBC"_s);
            CloseObject(basis);
            CloseObject(pers);

            operation = u"Firma Filiale Personal Setzen"_s;
            auto windows = Factory->Static(u"VR.Windows"_s);
            const QString who =
                u"S FIRMA="_s + Firma + u",FIL="_s + Filiale + u",PERSONAL=\""_s + Personalcode + u"\""_s;
            if (!preparedWithLine(who)) // a connection made just now was told this already
                windows->call(u"Xecute"_s, {who});
            CloseObject(windows);

            AnmeldeFirma = Firma;
            AnmeldungFehlgeschlagen = false;
            result = true;
        }
    } catch (const std::exception &e) {
        Benutzer.clear();
        return failedSignIn(e, operation, true);
    }
    EndServerWork();
    hideDialogs();
    return result;
}

QString UserFromPassword(const QString &password)
{
    // A connection that cannot be made is the caller's to report, not "no such user".
    BeginServerWork();
    QString code;
    try {
        auto rs = Factory->ResultSet(u"VR.ParPersEdv"_s, u"UserViaPasswort"_s);
        rs->Execute({password, Firma, QString()});
        if (rs->Next())
            code = ConvertText(factory::toText(rs->GetData(1)), u"VARELO"_s, false);
        rs->Close();
    } catch (...) {
        code.clear();
    }
    EndServerWork();
    return code;
}

} // namespace cacheapi
