#pragma once
// Module cacheapi: the program's one server connection, the session values, sign-in,
// remote commands, text conversion, trace lines and the error box.
//
// For the start window's sign-in loop:
//  - It may set Kommandozeile from the command line before every user_anmeld: the command
//    line's sign-in values are used once only (KommandozeileVerbraucht is set when they are
//    taken). After a refusal the next pass falls back to the sign-in dialog instead of
//    repeating the refused values, and a later fresh sign-in uses the dialog's values.
//  - Beendet is true once Ende ran. With the program's terminate handler Ende never
//    returns; with a test's handler it does, and the loop must stop:
//        while (!cacheapi::user_anmeld()) { if (cacheapi::Beendet) return; ... }
//  - user_anmeld reports every failure itself (error box) and answers false; nothing throws.
//
// Failures: procedures report server failures with CacheFehlermeldung and answer a neutral
// value. ReplaceText with an empty search text throws std::invalid_argument; ReplaceText and
// Piece over 32 766 characters throw std::length_error (both std::logic_error).

#include "factory/factory.h"
#include "session/connectionfields.h"

#include <QString>

#include <optional>

#include <functional>
#include <memory>

class QLineEdit;

namespace cacheapi {

// Session values (module-wide, read by every window).
struct Profil
{
    QString BERGRP, PNAME, PNR, ABTBEZ, ABTNR, HAbtNr, DW, Fax, EMail;
};

inline const QString DefaultServerIP = QStringLiteral("127.0.0.1");

extern QString Firma;           // "1"
extern QString Filiale;         // "0"
extern QString Personalcode;
extern QString Passwort;
extern QString Benutzer;        // Personalcode "|" name; empty while nobody is signed in
// The tenant the user signed in at: a new connection signs in there again, whichever tenant
// the main window has chosen since. "" until a sign-in succeeds (Firma is used then).
extern QString AnmeldeFirma;
extern QString Standort;
extern QString StandortText;
extern QString GeraeteStandort;
extern QString ServerIP;        // DefaultServerIP
extern QString Port;            // "1973"
extern QString Namespace;       // "VARELO"
extern QString WJ;
extern QString ServerObjekt;
extern QString ConnString;
extern QString Kommandozeile;
extern bool DialogPflicht;
extern bool AnmeldungFehlgeschlagen;
extern bool KommandozeileVerbraucht; // the command line's values were taken once: it is ignored now
extern bool Beendet;                // Ende has run
extern bool FirmaBleibt;            // a fresh sign-in while the program runs: Firma stays the
                                    // main window's choice, whatever the stored settings say
extern int BusyDepth;
extern Profil profil;
extern std::unique_ptr<factory::Factory> Factory; // the one connection

// Back to the values of a fresh program start (tests).
void resetSession();

// Trace log and error box.
void Trace(const QString &source, const QString &step, const QString &detail, int level);
void CacheFehlermeldung(int number, const QString &description, const QString &text);
void CacheFehlermeldung(const factory::Error &error, const QString &text);
void CacheFehlermeldung(const std::exception &error, const QString &text); // number 0 for non-server faults

// Connection.
void BuildConnString();
void LoadConnectionSettings();
void LoadStoredSettings(bool serverOnly);
void TakeDialogSettings(); // throws when the user cannot be looked up for lack of a connection
void BeginServerWork(bool hourglass = false, bool silent = false);
void EndServerWork(bool normalPointer = false);
void EnsureConnected(bool silent = false);
void DisconnectServer();
// Signs a connection in on its server as the session's user (the server takes nothing but
// what the sign-in needs before); false when the server refuses. Failures throw.
bool signInConnection(factory::Factory &factory);
// What a connection made just now was told before anything else, for the sign-in that follows
// on it within the same server work: the answer of its password check with these values
// (taken once; nullopt when there was none), and whether it was sent this line.
std::optional<QString> takePreparedPasswordCheck(const QString &password, const QString &tenant,
                                                 const QString &code);
bool preparedWithLine(const QString &line);
void WaitHundredths(int n);
void Ende();
QString ScramblePassword(const QString &text); // throws std::invalid_argument over 255 characters

// Sign-in.
bool user_anmeld();
// "" when no user has the password or the look-up fails; a connection that cannot be made
// throws, as BeginServerWork does.
QString UserFromPassword(const QString &password);

// Remote command helpers.
QString dbCall(const QString &command, bool &failed, bool silent = false);
QString ConvertText(const QString &text, const QString &mode, bool upper = true);
QString ReplaceText(const QString &text, const QString &search, const QString &replacement); // throws
QString Piece(const QString &text, const QString &delimiter, int n, const QString &defaultValue = {}); // throws
int PieceCount(const QString &text, QChar delimiter);
template <class T> void CloseObject(std::shared_ptr<T> &object)
{
    try {
        if (object) {
            if constexpr (requires { object->sys_close(); })
                object->sys_close();
            else
                object->Close(); // a result set
        }
    } catch (...) {
    }
    object.reset();
}
void SelectAllText(QLineEdit *box, bool noFocus);

// The windows the session layer must reach, registered by the sign-in layer at start-up,
// so the session knows no window class.
class SignInUi
{
public:
    virtual ~SignInUi() = default;
    virtual void showSignInDialogModal() = 0;  // FMPass, returns when it is hidden
    virtual bool signInDialogVisible() = 0;
    virtual void hideSignInDialog() = 0;
    virtual void selectPasswordText() = 0;     // SelectAllText on BPASSWORT, with focus
    virtual void showServerWindowModal() = 0;  // FMServer
    virtual void hideServerWindow() = 0;
    virtual void signInExitAction() = 0;       // what FMPass does on "Abbruch": ends the program
    virtual void stopLockTimer() = 0;          // FMServer's "Lock" timer off
    virtual void serverReached() = 0;          // loads FMServer (and its list) if not loaded yet
};
void setSignInUi(SignInUi *ui);
SignInUi *signInUi();

// Test seams. The 10-second pause between connection attempts (1000 hundredths) can be
// shortened; the program always uses 1000.
void setRetryWaitHundredths(int n);
// What Ende does after unloading the windows; the program terminates the process.
void setTerminateHandler(std::function<void()> handler);

} // namespace cacheapi
