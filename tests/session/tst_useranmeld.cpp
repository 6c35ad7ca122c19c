// Signing in against the seeded server: the password, state and branch rules with their
// boxes, personnel codes with umlauts, the profile, and the command line used only once.
#include "factory/factory.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/connectionfields.h"
#include "session/forms.h"
#include "signin/FMPass.h"
#include "tests/support/sessionfixture.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
const QString App = u"Cache Login"_s;
const QString Section = u"Login"_s;
} // namespace

class tst_UserAnmeld : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandLineSignIn();
    void umlautCodesReachServerForm_data();
    void umlautCodesReachServerForm();
    void refusedWithSameBox_data();
    void refusedWithSameBox();
    void branchRule();
    void storedValuesWithoutDialog();
    void refusedCommandLineFallsBackToDialog();
    void passwordOfNobody();
    void userFromPassword();

private:
    QString commandLine(const QString &code, const QString &password) const;
    void storeDefaultServer();
    // Answers the next sign-in dialog with this password.
    void answerDialogWith(const QString &password);
    std::unique_ptr<SessionFixture> m_fx;
    int m_dialogsAnswered = 0;
};

void tst_UserAnmeld::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->server().start());
    m_dialogsAnswered = 0;
}

void tst_UserAnmeld::cleanup() { m_fx.reset(); }

QString tst_UserAnmeld::commandLine(const QString &code, const QString &password) const
{
    return u"1 0 "_s + code + u" "_s + password + u" "_s + m_fx->server().host() + u" "_s +
           QString::number(m_fx->server().port()) + u" VARELO"_s;
}

void tst_UserAnmeld::storeDefaultServer()
{
    platform::SaveSetting(App, Section, u"ServerObjekt"_s, u"0"_s);
    platform::SaveSetting(App, Section, u"Server"_s, m_fx->server().host());
    platform::SaveSetting(App, Section, u"Port"_s, QString::number(m_fx->server().port()));
}

void tst_UserAnmeld::answerDialogWith(const QString &password)
{
    QTimer::singleShot(0, this, [this, password] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != u"FMPass") {
            answerDialogWith(password); // not up yet
            return;
        }
        auto *field = modal->findChild<QLineEdit *>(u"BPASSWORT"_s);
        field->clear();
        QTest::keyClicks(field, password);
        ++m_dialogsAnswered;
        QTest::mouseClick(modal->findChild<QPushButton *>(u"BUSpeich"_s), Qt::LeftButton);
    });
}

void tst_UserAnmeld::commandLineSignIn()
{
    platform::setCommandLine(commandLine(u"ADM"_s, u"admin"_s));
    QVERIFY(cacheapi::user_anmeld());
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!cacheapi::formIfLoaded<FMPass>()); // no dialog on the way
    QCOMPARE(cacheapi::Benutzer, u"ADM|Anna Adler"_s);
    QVERIFY(!cacheapi::AnmeldungFehlgeschlagen);
    QCOMPARE(cacheapi::BusyDepth, 0);
    // hello, password check, three session lines, server list, three records: the new
    // connection's password check and session line serve the sign-in, not asked twice.
    QCOMPARE(cacheapi::Factory->roundTrips(), quint64(9));
    QCOMPARE(cacheapi::profil.PNAME, u"Anna Adler"_s);
    QCOMPARE(cacheapi::profil.PNR, u"1001"_s);
    QCOMPARE(cacheapi::profil.DW, u"101"_s);
    QCOMPARE(cacheapi::profil.BERGRP, u"1"_s);
    QCOMPARE(cacheapi::profil.ABTNR, u"10"_s);
    QCOMPARE(cacheapi::profil.ABTBEZ, u"Verwaltung"_s);
    QCOMPARE(cacheapi::profil.HAbtNr, u"40"_s);
    QCOMPARE(cacheapi::profil.Fax, u"089 4711-99"_s);
    QCOMPARE(cacheapi::profil.EMail, u"anna.adler@orvanta.de"_s);
    bool failed = false;
    QCOMPARE(cacheapi::dbCall(u"W FIRMA_\"/\"_FIL_\"/\"_PERSONAL"_s, failed), u"1/0/ADM"_s);
}

void tst_UserAnmeld::umlautCodesReachServerForm_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("benutzer");
    QTest::addColumn<QString>("email");
    QTest::newRow("Ä") << u"BÄR"_s << u"baer"_s << u"BÄR|Björn Bär"_s << u"björn.bär@orvanta-lager.de"_s;
    QTest::newRow("ß") << u"FUß"_s << u"fuss"_s << u"FUß|Gerd Fuß"_s << u"gerd.fuss@orvanta.de"_s;
    // Typed in lower case: upper-cased before the conversion, "ä" reaches the server as "[".
    QTest::newRow("lower ä") << u"bär"_s << u"baer"_s << u"bär|Björn Bär"_s << u"björn.bär@orvanta-lager.de"_s;
    QTest::newRow("lower ß") << u"fuß"_s << u"fuss"_s << u"fuß|Gerd Fuß"_s << u"gerd.fuss@orvanta.de"_s;
}

void tst_UserAnmeld::umlautCodesReachServerForm()
{
    QFETCH(QString, code);
    QFETCH(QString, password);
    QFETCH(QString, benutzer);
    QFETCH(QString, email);
    cacheapi::Kommandozeile = commandLine(code, password);
    QVERIFY(cacheapi::user_anmeld());
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(cacheapi::Benutzer, benutzer);
    QCOMPARE(cacheapi::profil.ABTBEZ, u"Lager"_s);
    QCOMPARE(cacheapi::profil.EMail, email);
}

void tst_UserAnmeld::refusedWithSameBox_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("password");
    QTest::newRow("wrong password") << u"ADM"_s << u"Admin"_s;
    QTest::newRow("empty password") << u"ADM"_s << QString();
    QTest::newRow("inactive user, right password") << u"ALT"_s << u"alt"_s;
}

void tst_UserAnmeld::refusedWithSameBox()
{
    QFETCH(QString, code);
    QFETCH(QString, password);
    cacheapi::Kommandozeile = commandLine(code, password);
    cacheapi::Benutzer = u"old|value"_s;
    QVERIFY(!cacheapi::user_anmeld());
    QCOMPARE(m_fx->boxes().count(), 1);
    const auto &box = m_fx->boxes().last();
    QCOMPARE(box.title, u"Anmeldung an Caché."_s);
    QCOMPARE(box.text, u"Passwort Falsch oder Benutzer nicht Aktiv."_s);
    QCOMPARE(box.icon, platform::Icon::Information);
    QVERIFY(cacheapi::AnmeldungFehlgeschlagen);
    QVERIFY(cacheapi::Benutzer.isEmpty());
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_UserAnmeld::branchRule()
{
    // MUE must stay at the workstation's location.
    cacheapi::GeraeteStandort = u"1"_s;
    cacheapi::Standort = u"2"_s;
    cacheapi::Kommandozeile = commandLine(u"MUE"_s, u"mueller"_s);
    QVERIFY(!cacheapi::user_anmeld());
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Anmeldung an VARELO."_s);
    QCOMPARE(m_fx->boxes().last().text, u"Sie dürfen die Filiale nicht verändern."_s);
    QCOMPARE(m_fx->boxes().last().icon, platform::Icon::Information);
    QVERIFY(cacheapi::AnmeldungFehlgeschlagen);
    QVERIFY(cacheapi::Benutzer.isEmpty());

    // Keeping the workstation's location he signs in; the job learns the location.
    m_fx->boxes().clear();
    cacheapi::KommandozeileVerbraucht = false;
    cacheapi::AnmeldungFehlgeschlagen = false;
    cacheapi::Standort = u"1"_s;
    cacheapi::DisconnectServer();
    cacheapi::Kommandozeile = commandLine(u"MUE"_s, u"mueller"_s);
    QVERIFY(cacheapi::user_anmeld());
    QCOMPARE(cacheapi::Benutzer, u"MUE|Jürgen Müller"_s);
    bool failed = false;
    QCOMPARE(cacheapi::dbCall(u"W ^STAND($J)"_s, failed), u"1"_s);

    // A user without the rule may choose another location.
    cacheapi::KommandozeileVerbraucht = false;
    cacheapi::Standort = u"3"_s;
    cacheapi::Kommandozeile = commandLine(u"ADM"_s, u"admin"_s);
    QVERIFY(cacheapi::user_anmeld());
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_UserAnmeld::storedValuesWithoutDialog()
{
    storeDefaultServer();
    platform::SaveSetting(App, Section, u"Name"_s, u"ADM"_s);
    cacheapi::Passwort = u"admin"_s;
    QVERIFY(cacheapi::user_anmeld());
    QVERIFY(!cacheapi::formIfLoaded<FMPass>());
    QCOMPARE(cacheapi::Benutzer, u"ADM|Anna Adler"_s);
    QCOMPARE(cacheapi::WJ, u"2026"_s);
}

void tst_UserAnmeld::refusedCommandLineFallsBackToDialog()
{
    storeDefaultServer();
    const QString line = commandLine(u"ADM"_s, u"falsch"_s);
    platform::setCommandLine(line);
    // The start window's loop: the command line handed over on every pass.
    int passes = 0;
    bool signedIn = false;
    while (!signedIn && passes < 3 && !cacheapi::Beendet) {
        ++passes;
        cacheapi::Kommandozeile = line;
        cacheapi::DialogPflicht = true;
        if (passes == 2)
            answerDialogWith(u"admin"_s);
        signedIn = cacheapi::user_anmeld();
    }
    QVERIFY(signedIn);
    QCOMPARE(passes, 2);
    QCOMPARE(m_dialogsAnswered, 1);
    QCOMPARE(m_fx->boxes().count(), 1); // the one refusal of the command-line password
    QCOMPARE(cacheapi::Benutzer, u"ADM|Anna Adler"_s);
    QCOMPARE(cacheapi::Passwort, u"admin"_s);
    // The dialog was hidden after signing in; the password is stored only scrambled.
    auto *dialog = cacheapi::formIfLoaded<FMPass>();
    QVERIFY(dialog && !dialog->isVisible());
    const QString stored = platform::GetSetting(App, Section, u"Passwort"_s);
    QVERIFY(!stored.isEmpty() && stored != u"admin"_s);
    QCOMPARE(cacheapi::ScramblePassword(stored), u"admin"_s);
}

void tst_UserAnmeld::passwordOfNobody()
{
    storeDefaultServer();
    cacheapi::DialogPflicht = true;
    answerDialogWith(u"niemand"_s);
    QVERIFY(!cacheapi::user_anmeld());
    QCOMPARE(m_dialogsAnswered, 1);
    QCOMPARE(cacheapi::Personalcode, QString());
    QCOMPARE(m_fx->boxes().count(), 1);
    const auto &box = m_fx->boxes().last();
    QCOMPARE(box.title, u"Caché Zugriffsfehler"_s);
    QVERIFY2(box.text.startsWith(u"Vorgang: cacheapi.user_anmeld Anmeldung mit nicht existierendem Personalcode."
                                 u"\r\n\r\nFehler: 2006\r\n"_s),
             qPrintable(box.text));
    QVERIFY(cacheapi::AnmeldungFehlgeschlagen);
    QVERIFY(cacheapi::DialogPflicht);
    QVERIFY(cacheapi::Benutzer.isEmpty());

    // The next pass shows the dialog again and goes through.
    answerDialogWith(u"admin"_s);
    QVERIFY(cacheapi::user_anmeld());
    QCOMPARE(m_dialogsAnswered, 2);
    QCOMPARE(cacheapi::Benutzer, u"ADM|Anna Adler"_s);
}

void tst_UserAnmeld::userFromPassword()
{
    cacheapi::ServerIP = m_fx->server().host();
    cacheapi::Port = QString::number(m_fx->server().port());
    cacheapi::BuildConnString();
    QCOMPARE(cacheapi::UserFromPassword(u"baer"_s), u"BÄR"_s);
    QCOMPARE(cacheapi::UserFromPassword(u"fuss"_s), u"FUß"_s);
    QCOMPARE(cacheapi::UserFromPassword(u"niemand"_s), QString());
    QCOMPARE(cacheapi::UserFromPassword(u"admin2"_s), QString()); // a user of tenant 2
    cacheapi::Firma = u"2"_s;
    QCOMPARE(cacheapi::UserFromPassword(u"admin2"_s), u"ADM"_s);
    QCOMPARE(cacheapi::BusyDepth, 0);
    QCOMPARE(m_fx->boxes().count(), 0);

    // A job that cannot be prepared (a tenant field typed wrong) is a failure for the
    // caller to report, not a password of nobody.
    cacheapi::DisconnectServer();
    cacheapi::Firma = u"2,"_s;
    QVERIFY_THROWS_EXCEPTION(factory::Error, cacheapi::UserFromPassword(u"admin2"_s));
}

QTEST_MAIN(tst_UserAnmeld)
#include "tst_useranmeld.moc"
