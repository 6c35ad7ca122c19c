// The one connection: connection values from the command line and the stored settings,
// connecting on demand with the retry rule, a lost connection restored, remote commands.
#include "factory/factory.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/connectionfields.h"
#include "session/forms.h"
#include "signin/FMPass.h"
#include "signin/FMServer.h"
#include "tests/support/sessionfixture.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
const QString App = u"Cache Login"_s;
const QString Section = u"Login"_s;

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// Hides every modal window that comes up while the test waits, so a modal loop inside
// the code under test returns.
class ModalCloser : public QObject
{
public:
    QStringList seen;
    // withOwner: only the server list is closed, and the sign-in dialog with it, as when the
    // user leaves the sign-in dialog that keeps bringing the server list back.
    explicit ModalCloser(bool withOwner = false)
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this, withOwner] {
            if (QWidget *w = QApplication::activeModalWidget()) {
                if (!seen.contains(w->objectName()))
                    seen << w->objectName();
                if (!withOwner) {
                    w->hide();
                } else if (w->objectName() == u"FMServer") {
                    if (auto *signIn = cacheapi::formIfLoaded<FMPass>())
                        signIn->hide();
                    w->hide();
                }
            }
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};
} // namespace

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectsAndPreparesJob();
    void commandLineOfThreeWords();
    void commandLineIgnored_data();
    void commandLineIgnored();
    void storedSettingsWithServerObjekt();
    void storedSettingsWithoutServerObjekt();
    void retryRuleEndsTheProgram();
    void silentRetryGoesOn();
    void lostConnectionRestored();
    void retryTakesOnlyTheCorrectedConnection();
    void dbCallAnswersAndReportsFailure();
    void waitHundredthsUsesElapsedTime();

private:
    void pointAtTestServer();
    std::unique_ptr<SessionFixture> m_fx;
};

void tst_Connection::init() { m_fx = std::make_unique<SessionFixture>(); }
void tst_Connection::cleanup() { m_fx.reset(); }

void tst_Connection::pointAtTestServer()
{
    QVERIFY(m_fx->server().start());
    cacheapi::ServerIP = m_fx->server().host();
    cacheapi::Port = QString::number(m_fx->server().port());
    cacheapi::BuildConnString();
}

void tst_Connection::connectsAndPreparesJob()
{
    QVERIFY(m_fx->start());
    QCOMPARE(cacheapi::ConnString, m_fx->server().connectionString());
    QCOMPARE(cacheapi::BusyDepth, 0);
    // The job knows tenant and user: FIRMA and PERSONAL were set when it was prepared.
    bool failed = false;
    QCOMPARE(cacheapi::dbCall(u"W FIRMA_\"/\"_FIL_\"/\"_PERSONAL"_s, failed), u"1/0/ADM"_s);
    QVERIFY(!failed);
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_Connection::commandLineOfThreeWords()
{
    cacheapi::Kommandozeile = u"1 0 ADM"_s;
    cacheapi::LoadConnectionSettings();
    QCOMPARE(cacheapi::Firma, u"1"_s);
    QCOMPARE(cacheapi::Filiale, u"0"_s);
    QCOMPARE(cacheapi::Personalcode, u"ADM"_s);
    QCOMPARE(cacheapi::Passwort, QString());
    QCOMPARE(cacheapi::ServerIP, cacheapi::DefaultServerIP);
    QCOMPARE(cacheapi::Port, u"1973"_s);
    QCOMPARE(cacheapi::Namespace, u"VARELO"_s);
    QCOMPARE(cacheapi::ConnString, u"cn_iptcp:127.0.0.1[1973]:VARELO"_s);
    QVERIFY(cacheapi::Kommandozeile.isEmpty());
    QVERIFY(cacheapi::KommandozeileVerbraucht);
    const auto &f = cacheapi::ConnectionFields::instance();
    QCOMPARE(f.BUSER(), u"ADM"_s);
    QCOMPARE(f.BPORT(), u"1973"_s);
    QVERIFY(!cacheapi::formIfLoaded<FMPass>()); // no dialog was needed
    QCOMPARE(m_fx->boxes().count(), 0);

    // All eight words, and the empty words take their defaults.
    cacheapi::KommandozeileVerbraucht = false;
    cacheapi::Kommandozeile = u"2 3 BÄR baer 10.0.0.9  GATEWAY 2025 extra"_s;
    cacheapi::LoadConnectionSettings();
    QCOMPARE(cacheapi::Firma, u"2"_s);
    QCOMPARE(cacheapi::Personalcode, u"BÄR"_s);
    QCOMPARE(cacheapi::Passwort, u"baer"_s);
    QCOMPARE(cacheapi::ConnString, u"cn_iptcp:10.0.0.9[1973]:GATEWAY"_s);
    QCOMPARE(cacheapi::WJ, u"2025"_s);
    QCOMPARE(f.BWJ(), u"2025"_s);

    // A missing or empty third word counts as a short code: taken, with an empty code.
    for (const QString &line : {u"1 0"_s, u"2 0 "_s}) {
        cacheapi::KommandozeileVerbraucht = false;
        cacheapi::Kommandozeile = line;
        cacheapi::LoadConnectionSettings();
        QVERIFY2(cacheapi::KommandozeileVerbraucht, qPrintable(line));
        QCOMPARE(cacheapi::Personalcode, QString());
        QCOMPARE(cacheapi::Port, u"1973"_s);
    }
    QCOMPARE(cacheapi::Firma, u"2"_s);
    // Used once: the next pass (after the sign-in failed) goes by the stored settings and
    // the dialog.
    pointAtTestServer();
    platform::SaveSetting(App, Section, u"ServerObjekt"_s, u"0"_s);
    platform::SaveSetting(App, Section, u"Server"_s, m_fx->server().host());
    platform::SaveSetting(App, Section, u"Port"_s, QString::number(m_fx->server().port()));
    cacheapi::Kommandozeile = u"1 0"_s;
    cacheapi::DialogPflicht = true;
    ModalCloser closer;
    cacheapi::LoadConnectionSettings();
    QCOMPARE(closer.seen, QStringList{u"FMPass"_s});
    QCOMPARE(cacheapi::ConnString, m_fx->server().connectionString());
}

void tst_Connection::commandLineIgnored_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("four-letter code") << u"1 0 ADMX"_s;
    QTest::newRow("numeric code") << u"1 0 123"_s;
    QTest::newRow("tenant not numeric") << u"A 0 ADM"_s;
    QTest::newRow("branch not numeric") << u"1 x ADM"_s;
}

void tst_Connection::commandLineIgnored()
{
    QFETCH(QString, line);
    pointAtTestServer();
    // Stored settings lead to the test server; the dialog is answered by hiding it.
    platform::SaveSetting(App, Section, u"ServerObjekt"_s, u"0"_s);
    platform::SaveSetting(App, Section, u"Server"_s, m_fx->server().host());
    platform::SaveSetting(App, Section, u"Port"_s, QString::number(m_fx->server().port()));
    platform::SaveSetting(App, Section, u"Name"_s, u"MUE"_s);
    cacheapi::Kommandozeile = line;
    cacheapi::DialogPflicht = true;
    ModalCloser closer;
    cacheapi::LoadConnectionSettings();
    QVERIFY(!cacheapi::KommandozeileVerbraucht);
    QCOMPARE(closer.seen, QStringList{u"FMPass"_s});
    QCOMPARE(cacheapi::ConnString, m_fx->server().connectionString());
    QCOMPARE(cacheapi::ConnectionFields::instance().BUSER(), u"MUE"_s);
}

void tst_Connection::storedSettingsWithServerObjekt()
{
    pointAtTestServer();
    platform::SaveSetting(App, Section, u"ServerObjekt"_s, u"1"_s);
    platform::SaveSetting(App, Section, u"Firma"_s, u"2"_s);
    platform::SaveSetting(App, Section, u"Filiale"_s, u"7"_s);
    platform::SaveSetting(App, Section, u"Server"_s, m_fx->server().host());
    platform::SaveSetting(App, Section, u"Port"_s, QString::number(m_fx->server().port()));
    platform::SaveSetting(App, Section, u"Name"_s, u"ADM"_s);
    cacheapi::LoadStoredSettings(false);
    QCOMPARE(cacheapi::ServerObjekt, u"1"_s);
    QCOMPARE(cacheapi::Firma, u"2"_s);
    QCOMPARE(cacheapi::Filiale, u"7"_s);
    QCOMPARE(cacheapi::Namespace, u"VARELO"_s);
    QCOMPARE(cacheapi::Personalcode, u"ADM"_s);
    QCOMPARE(cacheapi::WJ, u"2026"_s); // piece 2 of ^FA(0), read over the connection
    const auto &f = cacheapi::ConnectionFields::instance();
    QVERIFY(!f.KeinDefaultEintrag());
    QCOMPARE(f.BFIRMA(), u"2"_s);
    QCOMPARE(f.BFIL(), u"7"_s);
    QCOMPARE(f.BWJ(), u"2026"_s);
    QCOMPARE(f.BSERVERIP(), m_fx->server().host());

    // Password, user and no pending dialog: signed in straight away, no dialog.
    cacheapi::Passwort = u"admin"_s;
    cacheapi::LoadConnectionSettings();
    QVERIFY(!cacheapi::formIfLoaded<FMPass>());

    // With serverOnly the personnel code and the fields stay as they are.
    platform::SaveSetting(App, Section, u"Name"_s, u"MUE"_s);
    platform::SaveSetting(App, Section, u"Firma"_s, u"1"_s);
    cacheapi::LoadStoredSettings(true);
    QCOMPARE(cacheapi::Firma, u"1"_s);
    QCOMPARE(cacheapi::Personalcode, u"ADM"_s);
    QCOMPARE(f.BFIRMA(), u"2"_s);
}

void tst_Connection::storedSettingsWithoutServerObjekt()
{
    pointAtTestServer();
    platform::SaveSetting(App, Section, u"Server"_s, m_fx->server().host());
    platform::SaveSetting(App, Section, u"Port"_s, QString::number(m_fx->server().port()));
    platform::SaveSetting(App, Section, u"Name"_s, u"ADM"_s);
    cacheapi::Passwort = u"admin"_s; // everything else would allow going on without the dialog
    ModalCloser closer(true);
    cacheapi::LoadConnectionSettings();
    QVERIFY(cacheapi::ConnectionFields::instance().KeinDefaultEintrag());
    QVERIFY(closer.seen.contains(u"FMServer"_s)); // the dialog came up and brought the list
    QCOMPARE(cacheapi::Firma, u"1"_s);
    QCOMPARE(cacheapi::Port, QString::number(m_fx->server().port()));
}

void tst_Connection::retryRuleEndsTheProgram()
{
    cacheapi::setRetryWaitHundredths(1);
    const QString port = QString::number(closedPort());
    cacheapi::Port = port;
    cacheapi::BuildConnString();
    auto &f = cacheapi::ConnectionFields::instance();
    f.setBPORT(port); // what the server window shows is used after it closes
    cacheapi::Benutzer = u"ADM|Anna Adler"_s;

    ModalCloser closer;
    cacheapi::BeginServerWork();
    QVERIFY(m_fx->endeCalled);
    QVERIFY(cacheapi::Beendet);
    QVERIFY(cacheapi::Benutzer.isEmpty());
    QCOMPARE(closer.seen, QStringList{u"FMServer"_s});

    const auto &boxes = m_fx->boxes().shown;
    QVERIFY(boxes.size() >= 2);
    QCOMPARE(boxes.first().title, u"Anmeldung an Caché"_s);
    QCOMPARE(boxes.first().text, u"Server nach 3 Versuchen nicht erreichbar!\r\n"
                                 u"Bitte Kontrollieren Sie die Verbindungsdaten"_s);
    QCOMPARE(boxes.first().icon, platform::Icon::Warning);
    QCOMPARE(boxes.last().title, u"Anmeldung an Caché"_s);
    QCOMPARE(boxes.last().text, u"Der Server ist nicht erreichbar!\r\nDie Anwendung wird beendet!\r\n"
                                u"Bitte Versuchen Sie die Anmeldung zu einem späteren Zeitpunk noch ein mal."_s);
    QCOMPARE(boxes.last().icon, platform::Icon::Critical);
    // The server list, never filled from an unreachable server, adds neither a box nor a
    // connection attempt of its own.
    QCOMPARE(boxes.size(), 2);
}

void tst_Connection::silentRetryGoesOn()
{
    // Silent attempts never give up; here the server comes up during the waits.
    cacheapi::setRetryWaitHundredths(5);
    QVERIFY(m_fx->server().start());
    const quint16 port = m_fx->server().port();
    m_fx->server().stop();
    cacheapi::ServerIP = m_fx->server().host();
    cacheapi::Port = QString::number(port);
    cacheapi::BuildConnString();
    QTimer::singleShot(300, this, [this] { QVERIFY(m_fx->server().restart()); });
    cacheapi::BeginServerWork(false, true);
    cacheapi::EndServerWork();
    QVERIFY(cacheapi::Factory->IsConnected());
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!m_fx->endeCalled);
}

void tst_Connection::lostConnectionRestored()
{
    QVERIFY(m_fx->start());
    const int firstJob = cacheapi::Factory->jobNumber();
    QVERIFY(firstJob > 0);
    cacheapi::Standort = u"3"_s;
    cacheapi::Firma = u"3"_s; // chosen after the sign-in; tenant 3 has no user of that code
    m_fx->server().kill();
    QVERIFY(m_fx->server().restart());
    QCOMPARE(cacheapi::ConnString, m_fx->server().connectionString());

    cacheapi::BeginServerWork();
    QVERIFY(cacheapi::Factory->IsConnected());
    // The new job was signed in again (an M line like this one needs it) and prepared again
    // with the current values.
    auto windows = cacheapi::Factory->Static(u"VR.Windows"_s);
    QCOMPARE(factory::toText(windows->call(u"Xecute"_s, {u"W PERSONAL_\"/\"_^STAND($J)"_s})), u"ADM/3"_s);
    cacheapi::EndServerWork();
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_Connection::retryTakesOnlyTheCorrectedConnection()
{
    // Signed in for tenant 2, branch 3; the server window's fields still say tenant 1.
    QVERIFY(m_fx->start(u"2"_s));
    cacheapi::Filiale = u"3"_s;
    auto &f = cacheapi::ConnectionFields::instance();
    QCOMPARE(f.BFIRMA(), u"1"_s);
    cacheapi::setRetryWaitHundredths(1);
    const QString goodPort = cacheapi::Port;
    cacheapi::Port = QString::number(closedPort()); // the connection is lost
    cacheapi::BuildConnString();
    cacheapi::DisconnectServer();

    // The user corrects the port in the server window the retry opens and leaves it.
    int rows = -1;
    QTimer driver;
    driver.setInterval(20);
    connect(&driver, &QTimer::timeout, this, [&] {
        auto *window = qobject_cast<FMServer *>(QApplication::activeModalWidget());
        if (!window)
            return;
        driver.stop();
        rows = window->findChild<QTreeWidget *>(u"ctList"_s)->topLevelItemCount();
        f.setBPORT(goodPort);
        window->hide();
    });
    driver.start();
    cacheapi::BeginServerWork();
    cacheapi::EndServerWork();
    // The list was read while the server could be reached; the retry adds no box of its own.
    QCOMPARE(rows, 3);
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().text, u"Server nach 3 Versuchen nicht erreichbar!\r\n"
                                        u"Bitte Kontrollieren Sie die Verbindungsdaten"_s);
    QCOMPARE(cacheapi::Port, goodPort);
    QCOMPARE(cacheapi::Firma, u"2"_s);
    QCOMPARE(cacheapi::Filiale, u"3"_s);
    bool failed = false;
    QCOMPARE(cacheapi::dbCall(u"W FIRMA_\"/\"_FIL"_s, failed), u"2/3"_s);
}

void tst_Connection::dbCallAnswersAndReportsFailure()
{
    QVERIFY(m_fx->start());
    bool failed = false;
    QCOMPARE(cacheapi::dbCall(u"S P0=$P(^FA(0),\"`\",2) W P0"_s, failed), u"2026"_s);
    QVERIFY(!failed);
    QCOMPARE(cacheapi::BusyDepth, 0);

    const QString bad = u"S X=$$NOSUCH^NOWHERE()"_s;
    QCOMPARE(cacheapi::dbCall(bad, failed), u" "_s);
    QVERIFY(failed);
    QCOMPARE(m_fx->boxes().count(), 1);
    const auto &box = m_fx->boxes().last();
    QCOMPARE(box.title, u"Caché Zugriffsfehler"_s);
    QCOMPARE(box.icon, platform::Icon::Warning);
    QVERIFY2(box.text.startsWith(u"Vorgang: cacheapi.dbcall Ungültige Anfrage! Kein Ergebnis gefunden\r\n\r\n"
                                 u"DBCall Aufruf von VR.Windwos Xecute "_s + bad + u".\r\n\r\nFehler: 3"_s),
             qPrintable(box.text));
    QVERIFY(box.text.endsWith(u"\r\n\r\n"_s));

    // Silent: no box, but the flag and the blank answer.
    failed = false;
    QCOMPARE(cacheapi::dbCall(bad, failed, true), u" "_s);
    QVERIFY(failed);
    QCOMPARE(m_fx->boxes().count(), 1);
    // The call still works afterwards.
    failed = false;
    QCOMPARE(cacheapi::dbCall(u"W 6*7"_s, failed), u"42"_s);
    QVERIFY(!failed);
}

void tst_Connection::waitHundredthsUsesElapsedTime()
{
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start(10);
    QElapsedTimer clock;
    clock.start();
    cacheapi::WaitHundredths(20);
    QVERIFY(clock.elapsed() > 200);
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(ticks > 3); // events went on during the wait
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
