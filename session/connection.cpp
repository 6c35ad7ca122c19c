#include "session/cacheapi.h"
#include "session/certificatestore.h"
#include "session/forms.h"

#include "factory/signin.h"
#include "platform/messagebox.h"
#include "platform/platform.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <tuple>

using namespace Qt::StringLiterals;

namespace cacheapi {
namespace {
const QString SettingsApp = u"Cache Login"_s;
const QString SettingsSection = u"Login"_s;

int g_retryWait = 1000;
bool g_retrying = false;

// What prepareServerJob told a new job. The sign-in that follows on it at once need not
// check the same password again nor send the same line: two round trips less. Forgotten
// when the server work it was made in ends.
struct PreparedJob
{
    int job = 0;
    bool checked = false;
    QString password, tenant, code, found;
    QString line;
};
PreparedJob g_prepared;

void quitAtOnce()
{
    // Settings are written through on every save; nothing else needs to survive.
    std::fflush(nullptr);
    std::_Exit(0);
}
std::function<void()> g_terminate = quitAtOnce;

QString setting(const QString &key, const QString &defaultValue)
{
    return platform::GetSetting(SettingsApp, SettingsSection, key, defaultValue);
}

bool guiApp() { return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr; }

void stopLockTimer()
{
    if (SignInUi *ui = signInUi())
        ui->stopLockTimer();
}

// The program's notion of "numeric" for command-line words: an optional sign, digits with
// at most one decimal sign, an optional exponent; blanks around are allowed.
bool isNumeric(const QString &word)
{
    const QString t = word.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    bool digits = false, point = false;
    for (; i < t.size(); ++i) {
        if (t[i].isDigit())
            digits = true;
        else if ((t[i] == u'.' || t[i] == u',') && !point)
            point = true;
        else
            break;
    }
    if (!digits)
        return false;
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
            ++i;
        bool expDigits = false;
        while (i < t.size() && t[i].isDigit()) {
            ++i;
            expDigits = true;
        }
        if (!expDigits)
            return false;
    }
    return i == t.size();
}

QString word(const QStringList &words, int n, const QString &defaultValue)
{
    return n < words.size() && !words[n].isEmpty() ? words[n] : defaultValue;
}

void writeFieldsFromSession()
{
    ConnectionFields &f = ConnectionFields::instance();
    f.setBFIRMA(Firma);
    f.setBFIL(Filiale);
    f.setBSERVERIP(ServerIP);
    f.setBPORT(Port);
    f.setBNAMESPACE(Namespace);
    f.setBWJ(WJ);
    f.setBUSER(Personalcode);
}

// What the user corrected or chose in the server window is what the next attempt uses:
// only what makes the connection. Tenant, branch and WJ stay those of the running session,
// or the job would silently work for another tenant than the windows show.
void takeServerWindowFields()
{
    const ConnectionFields &f = ConnectionFields::instance();
    if (f.CurrentId() != 255)
        ServerObjekt = QString::number(f.CurrentId());
    ServerIP = f.BSERVERIP();
    Port = f.BPORT();
    Namespace = f.BNAMESPACE();
    BuildConnString();
}

// The tenant and personnel code (server form) a connection signs in with: the tenant of the
// sign-in, not the one chosen since.
std::pair<QString, QString> signInTenantAndCode()
{
    return {AnmeldeFirma.isEmpty() ? Firma : AnmeldeFirma, ConvertText(Personalcode, u"RUZAVAVIR"_s, true)};
}

void prepareServerJob()
{
    // A new connection (a reconnect after a lost one) is signed in again with the session's
    // values before anything else: the server takes nothing else from it until then.
    g_prepared = {};
    PreparedJob prepared;
    prepared.job = Factory->jobNumber();
    if (!Personalcode.isEmpty()) {
        prepared.password = Passwort;
        std::tie(prepared.tenant, prepared.code) = signInTenantAndCode();
        prepared.found = factory::checkPassword(*Factory, prepared.password, prepared.tenant, prepared.code);
        prepared.checked = true;
    }
    auto windows = Factory->Static(u"VR.Windows"_s);
    const QString who = u"S FIRMA="_s + Firma + u",FIL="_s + Filiale + u",PERSONAL=\""_s + Personalcode + u"\""_s;
    const QString where = u"S ^STAND($J)=\""_s + Standort + u"\""_s;
    g_prepared = prepared; // the check stands even should a line below fail
    windows->call(u"Xecute"_s, {who});
    g_prepared.line = who;
    windows->call(u"Xecute"_s, {where});
    windows->call(u"Xecute"_s, {u"D ^%XTT"_s});
    CloseObject(windows);
}
} // namespace

void setRetryWaitHundredths(int n) { g_retryWait = n; }
void setTerminateHandler(std::function<void()> handler) { g_terminate = handler ? std::move(handler) : quitAtOnce; }

bool signInConnection(factory::Factory &factory)
{
    const auto [tenant, code] = signInTenantAndCode();
    return !factory::checkPassword(factory, Passwort, tenant, code).isEmpty();
}

namespace {
bool preparedJobIsCurrent()
{
    try {
        return g_prepared.job != 0 && Factory && Factory->IsConnected() && Factory->jobNumber() == g_prepared.job;
    } catch (...) {
        return false;
    }
}
} // namespace

std::optional<QString> takePreparedPasswordCheck(const QString &password, const QString &tenant, const QString &code)
{
    if (!g_prepared.checked || !preparedJobIsCurrent() || g_prepared.password != password
        || g_prepared.tenant != tenant || g_prepared.code != code)
        return std::nullopt;
    g_prepared.checked = false;
    return g_prepared.found;
}

bool preparedWithLine(const QString &line)
{
    return !g_prepared.line.isEmpty() && g_prepared.line == line && preparedJobIsCurrent();
}

void BuildConnString() { ConnString = u"cn_iptcp:"_s + ServerIP + u"["_s + Port + u"]:"_s + Namespace; }

namespace {
bool commandLineUsable(const QString &line)
{
    if (line.isEmpty() || KommandozeileVerbraucht)
        return false;
    // A missing or empty third word is short and not numeric: "1 0" is taken.
    const QStringList words = line.split(u' ');
    const QString third = words.value(2);
    return isNumeric(words[0]) && isNumeric(words.value(1)) && third.size() <= 3 && !isNumeric(third);
}
} // namespace

void LoadConnectionSettings()
{
    if (commandLineUsable(Kommandozeile)) {
        const QStringList words = Kommandozeile.split(u' ');
        Firma = word(words, 0, u"1"_s);
        Filiale = word(words, 1, u"0"_s);
        Personalcode = word(words, 2, {});
        Passwort = word(words, 3, {});
        ServerIP = word(words, 4, DefaultServerIP);
        Port = word(words, 5, u"1973"_s);
        Namespace = word(words, 6, u"VARELO"_s);
        WJ = word(words, 7, {});
        Kommandozeile.clear();
        ServerObjekt = setting(u"ServerObjekt"_s, {});
        writeFieldsFromSession();
        KommandozeileVerbraucht = true;
    } else {
        if (KommandozeileVerbraucht)
            Kommandozeile.clear();
        LoadStoredSettings(false);
        if (Beendet)
            return;
        const bool dialogNeeded = Passwort.isEmpty() || DialogPflicht || AnmeldungFehlgeschlagen ||
                                  Personalcode.isEmpty() || ConnectionFields::instance().KeinDefaultEintrag();
        if (dialogNeeded) {
            SignInUi *ui = signInUi();
            if (ui && !ui->signInDialogVisible())
                ui->showSignInDialogModal();
            if (Beendet)
                return;
            TakeDialogSettings();
        }
    }
    BuildConnString();
}

void LoadStoredSettings(bool serverOnly)
{
    ServerObjekt = setting(u"ServerObjekt"_s, {});
    if (ServerObjekt.isEmpty())
        ConnectionFields::instance().setKeinDefaultEintrag(true);
    ServerIP = setting(u"Server"_s, DefaultServerIP);
    if (!FirmaBleibt)
        Firma = setting(u"Firma"_s, u"1"_s);
    Filiale = setting(u"Filiale"_s, u"0"_s);
    Port = setting(u"Port"_s, u"1973"_s);
    Namespace = setting(u"Namespace"_s, u"VARELO"_s);
    BuildConnString();
    bool failed = false;
    WJ = dbCall(u"S P0=$P(^FA(0),\"`\",2) W P0"_s, failed);
    if (serverOnly || Beendet)
        return;
    Personalcode = setting(u"Name"_s, {});
    writeFieldsFromSession();
}

void TakeDialogSettings()
{
    const ConnectionFields &f = ConnectionFields::instance();
    if (f.CurrentId() != 255)
        ServerObjekt = QString::number(f.CurrentId());
    if (!FirmaBleibt)
        Firma = f.BFIRMA();
    Filiale = f.BFIL();
    ServerIP = f.BSERVERIP();
    Port = f.BPORT();
    Namespace = f.BNAMESPACE();
    WJ = f.BWJ();
    Passwort = f.BPASSWORT();
    Personalcode = UserFromPassword(Passwort);
    BuildConnString();
}

void BeginServerWork(bool hourglass, bool silent)
{
    if (hourglass && guiApp())
        QApplication::setOverrideCursor(Qt::WaitCursor);
    stopLockTimer();
    EnsureConnected(silent);
    ++BusyDepth;
    // The first server access loads the server window, so its list is there when a lost
    // connection later opens it.
    if (SignInUi *ui = signInUi(); ui && !Beendet && Factory && Factory->IsConnected())
        ui->serverReached();
}

void EndServerWork(bool normalPointer)
{
    if (normalPointer && guiApp()) {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
    --BusyDepth;
    if (BusyDepth <= 0) {
        stopLockTimer();
        g_prepared = {};
    }
}

void EnsureConnected(bool silent)
{
    try {
        if (Factory && Factory->IsConnected())
            return;
    } catch (...) {
    }
    useSettingsCertificatePins();
    // A handler that runs during a wait of the retry loop below (or inside the server window
    // it shows) gets one attempt and an error, not a retry loop of its own.
    if (g_retrying) {
        Factory = std::make_unique<factory::Factory>();
        if (Factory->Connect(ConnString) && Factory->IsConnected()) {
            prepareServerJob();
            return;
        }
        throw factory::Error(factory::ErrorCode::NotConnected, u"Server nicht erreichbar: "_s + ConnString);
    }
    struct RetryScope
    {
        RetryScope() { g_retrying = true; }
        ~RetryScope() { g_retrying = false; }
    } retryScope;
    int attempts = 0;
    bool serverWindowShown = false;
    for (;;) {
        Factory = std::make_unique<factory::Factory>();
        if (Factory->Connect(ConnString) && Factory->IsConnected()) {
            prepareServerJob();
            return;
        }
        if (!silent) {
            ++attempts;
            if (attempts >= 3) {
                SignInUi *ui = signInUi();
                if (!serverWindowShown) {
                    platform::messageBox(guiApp() ? QApplication::activeWindow() : nullptr,
                                         u"Server nach 3 Versuchen nicht erreichbar!\r\n"
                                         u"Bitte Kontrollieren Sie die Verbindungsdaten"_s,
                                         platform::Buttons::Ok, platform::Icon::Warning, u"Anmeldung an Caché"_s);
                    if (ui)
                        ui->showServerWindowModal();
                    if (Beendet)
                        return;
                    takeServerWindowFields();
                    serverWindowShown = true;
                    attempts = 0;
                    continue;
                }
                platform::messageBox(guiApp() ? QApplication::activeWindow() : nullptr,
                                     u"Der Server ist nicht erreichbar!\r\n"
                                     u"Die Anwendung wird beendet!\r\n"
                                     u"Bitte Versuchen Sie die Anmeldung zu einem späteren Zeitpunk noch ein mal."_s,
                                     platform::Buttons::Ok, platform::Icon::Critical, u"Anmeldung an Caché"_s);
                if (ui) {
                    try {
                        ui->hideServerWindow();
                    } catch (...) {
                    }
                }
                Benutzer.clear();
                try {
                    if (Factory->IsConnected())
                        Factory->Disconnect();
                } catch (...) {
                }
                if (ui)
                    ui->signInExitAction();
                else
                    Ende();
                return;
            }
        }
        WaitHundredths(g_retryWait);
        if (Beendet)
            return;
    }
}

void DisconnectServer()
{
    BusyDepth = 0;
    stopLockTimer();
    try {
        if (Factory && Factory->IsConnected())
            Factory->Disconnect();
    } catch (...) {
    }
}

void WaitHundredths(int n)
{
    // A monotonic clock: a wait that spans midnight still ends after its time.
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(n) * 10;
    while (clock.elapsed() <= limit)
        platform::sleepOneMillisecondProcessingEvents();
}

void Ende()
{
    Beendet = true;
    Trace(u"cacheapi.Ende"_s, u"Start ENDE"_s, {}, 0);
    const QList<QWidget *> forms = openForms();
    QList<QPointer<QWidget>> newestFirst;
    for (auto it = forms.crbegin(); it != forms.crend(); ++it)
        newestFirst.append(*it);
    for (const QPointer<QWidget> &w : std::as_const(newestFirst)) {
        try {
            if (w)
                Unload(w.data());
        } catch (...) {
        }
    }
    Trace(u"cacheapi.Ende"_s, u"Ende ENDE"_s, u"es folgt end"_s, 0);
    g_terminate();
}

} // namespace cacheapi
