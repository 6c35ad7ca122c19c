// The batch job buttons and the BMEcat dialog against a seeded server, with a second server
// process serving "GATEWAY" as the gateway. The two share the data folder, and with it the
// output folder the export file goes through. What reached the servers is read back from
// their run records (Varelo.Batch, query "Runs").
#include "factory/factory.h"
#include "main/FMStart.h"
#include "main/datefield.h"
#include "main/fmbmecat.h"
#include "main/orvanta.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "tests/support/sessionfixture.h"

#include <QApplication>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

class tst_Jobs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void articleAndConditionBuilds_data();
    void articleAndConditionBuilds();
    void releaseImportsOnGateway();
    void releaseWithGatewayUnreachable_data();
    void releaseWithGatewayUnreachable();
    void ftpBuildStartedOrNot();
    void bmecatBuild();
    void bmecatWithGatewayUnreachable();
    void bmecatDateIsTodayOnEveryActivation();
    void serverFailureIsReported();

private:
    QStringList runs(const QString &ns);            // "job|tenant|args", newest first
    QString importOutcome(int column = 7);          // of the gateway's newest import run
    bool waitForRun(const QString &ns, const QString &run);
    void setParam(const QString &firma, const QString &property, const QString &value);
    QString closedPortConnection() const;
    QPushButton *button(const QString &name) const { return m_window->findChild<QPushButton *>(name); }
    // Runs the BMEcat dialog from the main window; act works inside its modal loop.
    void withBmecatDialog(const std::function<void(fmbmecat *)> &act);

    std::unique_ptr<SessionFixture> m_fx;
    std::unique_ptr<TestServer> m_gateway;
    std::unique_ptr<factory::Factory> m_gatewayProbe;
    QPointer<FMStart> m_window;
};

void tst_Jobs::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
    TestServer::Options gateway;
    gateway.namespaces = {u"GATEWAY"_s};
    gateway.dataDir = m_fx->server().dataDir();
    m_gateway = std::make_unique<TestServer>(gateway);
    QVERIFY(m_gateway->start());
    setParam(u"1"_s, u"dbgateway"_s, m_gateway->connectionString(u"GATEWAY"_s));
    setParam(u"1"_s, u"dbbmecat"_s, m_gateway->connectionString(u"GATEWAY"_s));

    cacheapi::resetSession();
    platform::setCommandLine(u"1 0 ADM admin 127.0.0.1 "_s + QString::number(m_fx->server().port()) + u" VARELO"_s);
    m_window = cacheapi::form<FMStart>();
    QVERIFY(m_window->Form_Load());
    m_window->show();
    QCOMPARE(orvanta::Modus, u"server"_s);
    m_fx->boxes().clear();
}

void tst_Jobs::cleanup()
{
    m_gatewayProbe.reset();
    m_gateway.reset(); // before the first server, whose folder it uses
    m_fx.reset();
    QVERIFY(!m_window);
}

QStringList tst_Jobs::runs(const QString &ns)
{
    factory::Factory *on = &m_fx->probe();
    if (ns == u"GATEWAY") {
        if (!m_gatewayProbe) {
            m_gatewayProbe = std::make_unique<factory::Factory>();
            m_gateway->connect(*m_gatewayProbe, ns);
        }
        on = m_gatewayProbe.get();
    }
    QStringList result;
    auto rs = on->ResultSet(u"Varelo.Batch"_s, u"Runs"_s);
    rs->Execute();
    while (rs->Next())
        result << factory::toText(rs->GetData(2)) + u'|' + factory::toText(rs->GetData(3)) + u'|' +
                      factory::toText(rs->GetData(4));
    rs->Close();
    return result;
}

QString tst_Jobs::importOutcome(int column)
{
    runs(u"GATEWAY"_s); // connects the probe
    auto rs = m_gatewayProbe->ResultSet(u"Varelo.Batch"_s, u"Runs"_s);
    rs->Execute();
    QString outcome;
    while (rs->Next()) {
        if (factory::toText(rs->GetData(2)) == u"import"_s) {
            outcome = factory::toText(rs->GetData(column));
            break;
        }
    }
    rs->Close();
    return outcome;
}

bool tst_Jobs::waitForRun(const QString &ns, const QString &run)
{
    // The run is recorded by the server's batch thread just after the call answered.
    for (int i = 0; i < 100; ++i) {
        if (runs(ns).contains(run))
            return true;
        QTest::qWait(50);
    }
    qWarning("runs in %s: %s", qPrintable(ns), qPrintable(runs(ns).join(u", "_s)));
    return false;
}

void tst_Jobs::setParam(const QString &firma, const QString &property, const QString &value)
{
    auto param = m_fx->probe().OpenId(u"orvanta.param"_s, firma);
    param->set(property, value);
    param->sys_Save();
}

QString tst_Jobs::closedPortConnection() const
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close(); // nobody listens there any more
    return u"cn_iptcp:127.0.0.1["_s + QString::number(port) + u"]:GATEWAY"_s;
}

void tst_Jobs::withBmecatDialog(const std::function<void(fmbmecat *)> &act)
{
    bool acted = false;
    QTimer driver;
    driver.setInterval(10);
    connect(&driver, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<fmbmecat *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        driver.stop();
        acted = true;
        act(dialog);
    });
    driver.start();
    button(u"BUBmecat"_s)->click();
    QVERIFY(acted);
    // Hidden, then unloaded by the main window.
    QVERIFY(!cacheapi::formIfLoaded<fmbmecat>());
}

void tst_Jobs::articleAndConditionBuilds_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("run");
    QTest::newRow("articles") << u"BUArtikel"_s << u"genartikel|1|1|orvanta.wexl"_s;
    QTest::newRow("conditions") << u"BUKond"_s << u"genkond|1|1|orvanta.wexl"_s;
}

void tst_Jobs::articleAndConditionBuilds()
{
    QFETCH(QString, buttonName);
    QFETCH(QString, run);
    orvanta::Dbpraefix = u"vorher"_s;
    button(buttonName)->click();
    QVERIFY(waitForRun(u"VARELO"_s, run));
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(orvanta::Dbpraefix, u"orvanta.wexl"_s);
    QVERIFY(button(buttonName)->isEnabled());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_Jobs::releaseImportsOnGateway()
{
    button(u"BUFrei"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(waitForRun(u"VARELO"_s, u"freischalten|1|wexl_export.txt"_s));
    QVERIFY(waitForRun(u"GATEWAY"_s, u"import||wexl_export.txt"_s));
    // The gateway took over what the release wrote.
    QTRY_VERIFY_WITH_TIMEOUT(importOutcome().startsWith(u"ok"_s), 10000);
    QCOMPARE(importOutcome(9), u"ADM"_s); // the session's user signed the gateway connection in
    QVERIFY(button(u"BUFrei"_s)->isEnabled());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_Jobs::releaseWithGatewayUnreachable_data()
{
    QTest::addColumn<QString>("gateway");
    QTest::newRow("nobody listening") << closedPortConnection();
    QTest::newRow("unknown namespace") << u"GATE"_s;
    QTest::newRow("empty") << QString();
    // Reachable, but the session's password does not sign the gateway connection in.
    QTest::newRow("sign-in refused") << u"PASSWORT"_s;
}

void tst_Jobs::releaseWithGatewayUnreachable()
{
    QFETCH(QString, gateway);
    if (gateway == u"GATE")
        gateway = m_gateway->connectionString(u"NIRGENDS"_s);
    if (gateway == u"PASSWORT") {
        gateway = m_gateway->connectionString(u"GATEWAY"_s);
        cacheapi::Passwort = u"falsch"_s; // the main connection stays signed in
    }
    setParam(u"1"_s, u"dbgateway"_s, gateway);
    bool disabledDuringRun = false, busyDuringRun = false;
    m_fx->boxes().onShown = [&](const platform::ShownMessage &) {
        disabledDuringRun = !button(u"BUFrei"_s)->isEnabled();
        busyDuringRun = QGuiApplication::overrideCursor() &&
                        QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
    };
    button(u"BUFrei"_s)->click();
    m_fx->boxes().onShown = nullptr;

    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().text, u"Verbindung zu Gateway-Server nicht möglich"_s);
    QCOMPARE(m_fx->boxes().last().title, QString());
    QCOMPARE(m_fx->boxes().last().icon, platform::Icon::Critical);
    QVERIFY(disabledDuringRun);
    QVERIFY(busyDuringRun);
    // The release on the main server happened all the same.
    QVERIFY(waitForRun(u"VARELO"_s, u"freischalten|1|wexl_export.txt"_s));
    QVERIFY(runs(u"GATEWAY"_s).isEmpty());
    QVERIFY(button(u"BUFrei"_s)->isEnabled());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_Jobs::ftpBuildStartedOrNot()
{
    // Tenant 2 works in mode "ftp" and has no parameters yet: the server cannot start.
    m_window->limandant_ItemSelected(1);
    QCOMPARE(cacheapi::Firma, u"2"_s);
    QVERIFY(button(u"BUftpaufbau"_s)->isEnabled());
    button(u"BUftpaufbau"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().text, u"Aufbau konnte nicht gestertet werden"_s);
    QCOMPARE(m_fx->boxes().last().title, u"ftp-Aufbau/Übertragung"_s);
    QCOMPARE(m_fx->boxes().last().icon, platform::Icon::Critical);

    auto param = m_fx->probe().New(u"orvanta.param"_s, u"2"_s);
    param->set(u"Firma"_s, u"2"_s);
    param->set(u"dbpraefix"_s, u"orvanta.wexl"_s);
    param->set(u"fileexport"_s, u"nord_export.txt"_s);
    param->sys_Save();
    button(u"BUftpaufbau"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 2);
    QCOMPARE(m_fx->boxes().last().text, u"Aufbau wurde gestartet, Ergebnis wird per E-Mail zugestellt"_s);
    QCOMPARE(m_fx->boxes().last().title, u"ftp-Aufbau/Übertragung"_s);
    QCOMPARE(m_fx->boxes().last().icon, platform::Icon::Information);
    // Started for the tenant chosen in the window, not the one signed in with.
    QVERIFY(waitForRun(u"VARELO"_s, u"ftpaufbau|2|"_s));
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_Jobs::bmecatBuild()
{
    withBmecatDialog([](fmbmecat *dialog) {
        auto *datum = dialog->findChild<DateField *>(u"datum"_s);
        auto *start = dialog->findChild<QPushButton *>(u"BUStart"_s);
        QCOMPARE(dialog->windowTitle(), u"BMECAT"_s);
        QCOMPARE(datum->date(), QDate::currentDate());
        // Typed as a German date: all of it, then one part overtyped where it stands.
        datum->setFocus();
        QTest::keyClick(datum, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(datum, u"15.03.2026"_s);
        QCOMPARE(datum->date(), QDate(2026, 3, 15));
        QTest::keyClick(datum, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(datum, u"1.3.26"_s);
        QCOMPARE(datum->date(), QDate(2026, 3, 1));
        datum->setText(u"31.01.2026"_s);
        datum->setCursorPosition(3);
        QTest::keyClicks(datum, u"02"_s);
        QVERIFY(!datum->date().isValid()); // 31 February: no build for it
        QVERIFY(!start->isEnabled());
        datum->setCursorPosition(0);
        QTest::keyClicks(datum, u"01"_s);
        QCOMPARE(datum->date(), QDate(2026, 2, 1));
        start->click();
    });
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(waitForRun(u"VARELO"_s, u"bmecat|1|2026-02-01"_s));
    QVERIFY(waitForRun(u"GATEWAY"_s, u"import||wexl_export.txt"_s));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_Jobs::bmecatWithGatewayUnreachable()
{
    setParam(u"1"_s, u"dbbmecat"_s, closedPortConnection());
    bool startOff = false, stillOpen = false;
    withBmecatDialog([&](fmbmecat *dialog) {
        auto *start = dialog->findChild<QPushButton *>(u"BUStart"_s);
        start->click();
        startOff = !start->isEnabled();
        stillOpen = dialog->isVisible();
        dialog->reject();
    });
    QVERIFY(startOff);
    QVERIFY(stillOpen);
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().text, u"Verbindung zu Geteway-Server nicht möglich"_s);
    QCOMPARE(m_fx->boxes().last().title, QString());
    QCOMPARE(m_fx->boxes().last().icon, platform::Icon::Critical);
    QVERIFY(waitForRun(u"VARELO"_s, u"bmecat|1|"_s + QDate::currentDate().toString(Qt::ISODate)));
    QVERIFY(runs(u"GATEWAY"_s).isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_Jobs::bmecatDateIsTodayOnEveryActivation()
{
    fmbmecat *dialog = cacheapi::form<fmbmecat>();
    auto *datum = dialog->findChild<DateField *>(u"datum"_s);
    QCOMPARE(datum->text(), QDate::currentDate().toString(u"dd.MM.yyyy"_s));
    dialog->show();
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    datum->setDate(QDate(2020, 1, 1));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QCOMPARE(datum->date(), QDate(2020, 1, 1));
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(datum->date(), QDate::currentDate());
    cacheapi::Unload(dialog);
}

void tst_Jobs::serverFailureIsReported()
{
    // A tenant without parameters: the jobs that read them fail at the server.
    cacheapi::Firma = u"3"_s;
    button(u"BUArtikel"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Caché Zugriffsfehler"_s);
    QVERIFY(m_fx->boxes().last().text.startsWith(u"Vorgang: FMStart.BUArtikel_Click.\r\n\r\nFehler: 2006\r\n"_s));
    QVERIFY(button(u"BUArtikel"_s)->isEnabled());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(cacheapi::BusyDepth, 0);

    withBmecatDialog([](fmbmecat *dialog) {
        auto *start = dialog->findChild<QPushButton *>(u"BUStart"_s);
        start->click();
        QVERIFY(start->isEnabled());
        QVERIFY(dialog->isVisible());
        dialog->reject();
    });
    QCOMPARE(m_fx->boxes().count(), 2);
    QVERIFY(m_fx->boxes().last().text.startsWith(u"Vorgang: fmbmecat.BUStart_Click.\r\n"_s));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(cacheapi::BusyDepth, 0);
    QVERIFY(runs(u"VARELO"_s).isEmpty());
}

QTEST_MAIN(tst_Jobs)
#include "tst_jobs.moc"
