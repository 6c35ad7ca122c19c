// The sign-in dialog against the seeded server: the location list and the workstation's
// own location, the default-server notice, the hidden compatibility field, signing in
// again while the program runs, and cancelling.
#include "signin/FMPass.h"
#include "signin/FMServer.h"
#include "signin/locationlist.h"
#include "signin/signin.h"

#include "factory/factory.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/connectionfields.h"
#include "session/frmProgrammverlauf.h"
#include "tests/support/sessionfixture.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
const QString App = u"Cache Login"_s;
const QString Section = u"Login"_s;
cacheapi::ConnectionFields &fields() { return cacheapi::ConnectionFields::instance(); }

bool traced(const QString &source, const QString &step)
{
    auto *history = cacheapi::formIfLoaded<cacheapi::frmProgrammverlauf>();
    for (int i = 0; history && i < history->Verlauf()->topLevelItemCount(); ++i) {
        const auto *item = history->Verlauf()->topLevelItem(i);
        if (item->text(0) == source && item->text(1) == step)
            return true;
    }
    return false;
}

// A stand-in for the main window: all the dialog knows of it is its name and caption.
class MainWindowStandIn final : public QWidget
{
public:
    MainWindowStandIn()
    {
        setObjectName(u"FMStart"_s);
        cacheapi::registerForm(this);
    }
    ~MainWindowStandIn() override { cacheapi::unregisterForm(this); }
};
} // namespace

class tst_FMPass : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void parseLocations_data();
    void parseLocations();
    void clientNameBeforeComputerName();
    void computerNameWhenNoClientName();
    void noMatchingLocation();
    void choosingLocation();
    void tooManyLocationsReported();
    void controlsAndHiddenUserField();
    void noDefaultServerNotice();
    void signInAgainWhileRunning();
    void abbruchEndsProgram();
    void closeByCodeOnlyHides();
    void closeFromFrameEndsProgram();

private:
    FMPass *openDialog();
    void storeDefaultServer();
    std::unique_ptr<SessionFixture> m_fx;
};

void tst_FMPass::init()
{
    qputenv("CLIENTNAME", "");
    qputenv("COMPUTERNAME", "");
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_FMPass::cleanup()
{
    m_fx.reset();
    qunsetenv("CLIENTNAME");
    qunsetenv("COMPUTERNAME");
}

FMPass *tst_FMPass::openDialog() { return cacheapi::form<FMPass>(); }

void tst_FMPass::storeDefaultServer()
{
    platform::SaveSetting(App, Section, u"ServerObjekt"_s, u"0"_s);
    platform::SaveSetting(App, Section, u"Server"_s, m_fx->server().host());
    platform::SaveSetting(App, Section, u"Port"_s, QString::number(m_fx->server().port()));
}

void tst_FMPass::parseLocations_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("codes");
    QTest::newRow("three") << u"1 Zentrale`2 Filiale Nord`3 Lager Süd"_s
                           << QStringList{u"1"_s, u"2"_s, u"3"_s};
    QTest::newRow("empty entry in the middle ends the list") << u"1 Zentrale``3 Lager"_s << QStringList{u"1"_s};
    QTest::newRow("trailing separator") << u"7 Sieben`"_s << QStringList{u"7"_s};
    QTest::newRow("empty list") << QString() << QStringList{};
    QTest::newRow("first entry empty") << u"`1 Zentrale"_s << QStringList{};
}

void tst_FMPass::parseLocations()
{
    QFETCH(QString, list);
    QFETCH(QStringList, codes);
    QStringList got;
    for (const auto &l : signin::parseLocations(list))
        got << l.code;
    QCOMPARE(got, codes);
}

void tst_FMPass::clientNameBeforeComputerName()
{
    qputenv("CLIENTNAME", "WS-NORD");
    qputenv("COMPUTERNAME", "WS-LAGER");
    auto *dialog = openDialog();
    auto *combo = dialog->findChild<QComboBox *>(u"co_standort"_s);
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(2), u"3 Lager Süd"_s);
    QCOMPARE(combo->itemData(2).toString(), u"3"_s);
    QCOMPARE(cacheapi::GeraeteStandort, u"2"_s);
    QCOMPARE(cacheapi::Standort, u"2"_s);
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(cacheapi::StandortText, u"2 Filiale Nord"_s);
    QCOMPARE(cacheapi::BusyDepth, 0);
    QVERIFY(traced(u"FMPass.Form_Load"_s, u"Ende"_s));
}

void tst_FMPass::computerNameWhenNoClientName()
{
    qputenv("COMPUTERNAME", "WS-LAGER");
    auto *combo = openDialog()->findChild<QComboBox *>(u"co_standort"_s);
    QCOMPARE(cacheapi::GeraeteStandort, u"3"_s);
    QCOMPARE(combo->currentIndex(), 2);
}

void tst_FMPass::noMatchingLocation()
{
    // Tenant 2 has one location, "1"; the workstation stands at "2".
    cacheapi::Firma = u"2"_s;
    qputenv("COMPUTERNAME", "ws-nord");
    auto *combo = openDialog()->findChild<QComboBox *>(u"co_standort"_s);
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->itemText(0), u"1 Zentrale Nord"_s);
    QCOMPARE(combo->currentIndex(), -1);
    QCOMPARE(cacheapi::Standort, u"2"_s);
    QCOMPARE(cacheapi::GeraeteStandort, u"2"_s);
    QVERIFY(cacheapi::StandortText.isEmpty());
}

void tst_FMPass::choosingLocation()
{
    qputenv("COMPUTERNAME", "ws-zentrale");
    auto *combo = openDialog()->findChild<QComboBox *>(u"co_standort"_s);
    QCOMPARE(combo->currentIndex(), 0);
    combo->setCurrentIndex(2);
    QCOMPARE(cacheapi::Standort, u"3"_s);
    QCOMPARE(cacheapi::StandortText, u"3 Lager Süd"_s);
    QCOMPARE(cacheapi::GeraeteStandort, u"1"_s);
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_FMPass::tooManyLocationsReported()
{
    // Tenant 3 gets 256 locations, one more than the dialog can hold.
    factory::Factory &probe = m_fx->probe();
    for (int i = 1; i <= 256; ++i) {
        auto location = probe.New(u"VR.Standort"_s);
        location->set(u"Firma"_s, u"3"_s);
        location->set(u"Code"_s, QString::number(i));
        location->set(u"Name"_s, QString(u"Ort "_s + QString::number(i)));
        location->sys_Save();
    }
    cacheapi::Firma = u"3"_s;
    auto *dialog = openDialog();
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Caché Zugriffsfehler"_s);
    QVERIFY2(m_fx->boxes().last().text.startsWith(u"Vorgang: FMPass.Form_Load.\r\n\r\nFehler: 6\r\n"_s),
             qPrintable(m_fx->boxes().last().text));
    QVERIFY(traced(u"FMPass.Form_Load"_s, u"Ende mit Fehler"_s));
    // Usable: an empty list, and signing in still works.
    QCOMPARE(dialog->findChild<QComboBox *>(u"co_standort"_s)->count(), 0);
    QVERIFY(dialog->findChild<QPushButton *>(u"BUSpeich"_s)->isEnabled());
}

void tst_FMPass::controlsAndHiddenUserField()
{
    auto *dialog = openDialog();
    QCOMPARE(dialog->windowTitle(), u"VARELO Benutzeranmeldung"_s);
    auto *password = dialog->findChild<QLineEdit *>(u"BPASSWORT"_s);
    auto *user = dialog->findChild<QLineEdit *>(u"BUSER"_s);
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    password->setText(u"geheim"_s);
    QCOMPARE(password->displayText(), u"******"_s);
    password->clear();
    QCOMPARE(password->maxLength(), 20);
    QCOMPARE(user->maxLength(), 20);
    // Screen readers name the hidden field by its label too.
    bool labelled = false;
    for (QLabel *label : dialog->findChildren<QLabel *>())
        labelled = labelled || (label->buddy() == user && label->text() == u"für Kompatibilität mit Altprog!:");
    QVERIFY(labelled);

    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    // Below the client area, but there and reachable by Tab.
    QVERIFY(user->isVisible());
    QVERIFY(user->geometry().top() >= dialog->height());
    QTRY_VERIFY(password->hasFocus());
    auto *anmelden = dialog->findChild<QPushButton *>(u"BUSpeich"_s);
    anmelden->setFocus();
    QTest::keyClick(anmelden, Qt::Key_Tab);
    QTRY_VERIFY(user->hasFocus());
    QTest::keyClicks(user, u"m"_s);
    QTest::sendKeyEvent(QTest::Click, user, Qt::Key_unknown, u"ü"_s, {});
    QCOMPARE(fields().BUSER(), u"mü"_s);
    password->setFocus();
    QCOMPARE(user->text(), u"MÜ"_s); // upper case once the focus leaves
    QCOMPARE(fields().BUSER(), u"MÜ"_s);
    user->setFocus();
    QTest::keyClick(user, Qt::Key_End);
    QTest::sendKeyEvent(QTest::Click, user, Qt::Key_unknown, u"ß"_s, {});
    password->setFocus();
    QCOMPARE(user->text(), u"MÜß"_s); // as in the personnel codes: "ß" stays

    // Focus entering a field selects its whole text.
    QTest::keyClicks(password, u"geheim"_s);
    user->setFocus();
    password->setFocus();
    QCOMPARE(password->selectedText(), u"geheim"_s);
}

void tst_FMPass::noDefaultServerNotice()
{
    // No entries on the server: the list the notice opens is empty.
    for (const QString &id : {u"0"_s, u"1"_s, u"2"_s}) {
        auto entry = m_fx->probe().OpenId(u"VR.KassaSW"_s, id);
        entry->set(u"Type"_s, 1);
        entry->sys_Save();
    }
    cacheapi::Unload(cacheapi::formIfLoaded<FMServer>());
    fields().setKeinDefaultEintrag(true);
    QStringList modals;
    int emptyLists = 0;
    m_fx->boxes().onShown = [&](const platform::ShownMessage &) {
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget *modal = QApplication::activeModalWidget();
            modals << modal->objectName();
            auto *list = modal->findChild<QTreeWidget *>(u"ctList"_s);
            if (list && list->topLevelItemCount() == 0)
                ++emptyLists;
            // Leaving without a default brings the notice back; the second time the
            // (empty) list's entry is stored as the default.
            if (modals.size() == 2) {
                QTest::mousePress(list->viewport(), Qt::RightButton, {}, QPoint(5, 5));
                modal->findChild<QAction *>(u"mRechts"_s)->trigger();
                modal->findChild<QMenu *>(u"HRechts"_s)->hide();
            }
            modal->findChild<QPushButton *>(u"BUZurück"_s)->click();
        });
    };
    signin::showSignInDialog(nullptr);
    QPointer<FMPass> dialog = cacheapi::formIfLoaded<FMPass>();
    QVERIFY(dialog);
    QTRY_VERIFY(traced(u"FMPass.Form_Activate"_s, u"Ende"_s));
    QCOMPARE(modals, (QStringList{u"FMServer"_s, u"FMServer"_s}));
    QCOMPARE(emptyLists, 2);
    QCOMPARE(m_fx->boxes().count(), 2);
    const auto &box = m_fx->boxes().last();
    QCOMPARE(box.title, u"Standardserver?"_s);
    QCOMPARE(box.buttons, platform::Buttons::Ok);
    QCOMPARE(box.text, u"Es ist kein Standardserver festgelegt!Bitte wählen Sie aus der Liste die Firma in der Sie "
                       u"arbeiten (linke Maustaste Click) und bestätigen Sie mit der rechten Maustaste "
                       u"(Eintrag als Standard) speichern."_s);
    QVERIFY(traced(u"FMPass.Form_Activate"_s, u"Kein Standardserver festgelegt"_s));
    QVERIFY(!fields().KeinDefaultEintrag());
    QCOMPARE(platform::GetSetting(App, Section, u"ServerObjekt"_s), u"255"_s);
    m_fx->boxes().onShown = nullptr;

    // With a default stored, activation goes without the notice, and the dialog is usable.
    dialog->hide();
    signin::showSignInDialog(nullptr);
    QTest::qWait(50);
    QCOMPARE(m_fx->boxes().count(), 2);
    QVERIFY(dialog->isVisible());
    dialog->findChild<QPushButton *>(u"BUAusst"_s)->click();
    QVERIFY(m_fx->endeCalled);
}

void tst_FMPass::signInAgainWhileRunning()
{
    storeDefaultServer();
    qputenv("COMPUTERNAME", "ws-lager");
    MainWindowStandIn mainWindow;
    mainWindow.setWindowTitle(u"VARELO Orvanta Web             Firma: 1     Filiale: 0     Benutzer: ADM|Anna Adler"_s);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    cacheapi::DialogPflicht = true;
    fields().setBUSER(u"ADM"_s); // the stored "Name", as the last sign-in left it

    signin::showSignInDialog(&mainWindow);
    auto *dialog = cacheapi::formIfLoaded<FMPass>();
    QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
    auto *password = dialog->findChild<QLineEdit *>(u"BPASSWORT"_s);
    password->clear();
    QTest::keyClicks(password, u"baer"_s);
    dialog->findChild<QPushButton *>(u"BUSpeich"_s)->click();

    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(cacheapi::Benutzer, u"BÄR|Björn Bär"_s);
    QCOMPARE(mainWindow.windowTitle(),
             u"VARELO Orvanta Web             Firma: 1     Filiale: 0     Benutzer: BÄR|Björn Bär"_s);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(platform::GetSetting(App, Section, u"Name"_s), u"ADM"_s);
    QCOMPARE(cacheapi::ScramblePassword(platform::GetSetting(App, Section, u"Passwort"_s)), u"baer"_s);
    bool failed = false;
    QCOMPARE(cacheapi::dbCall(u"W PERSONAL_\"/\"_^STAND($J)"_s, failed), u"BÄR/3"_s);
    QVERIFY(traced(u"FMPAss.BUSpeich_Click"_s, u"Ende"_s));
    QVERIFY(!QApplication::overrideCursor());

    // With tenant 2 chosen in the main window, the sign-in is one for tenant 2 (the stored
    // default and the server list still say 1): its own user signs in, and the job stays on 2.
    cacheapi::Firma = u"2"_s;
    signin::showSignInDialog(&mainWindow);
    password->clear();
    QTest::keyClicks(password, u"admin2"_s);
    dialog->findChild<QPushButton *>(u"BUSpeich"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(cacheapi::Firma, u"2"_s);
    QCOMPARE(cacheapi::Benutzer, u"ADM|Anna Adler"_s);
    QCOMPARE(cacheapi::dbCall(u"W FIRMA"_s, failed), u"2"_s);
    QVERIFY(!cacheapi::FirmaBleibt);
}

void tst_FMPass::abbruchEndsProgram()
{
    signin::showSignInDialog(nullptr);
    QPointer<FMPass> dialog = cacheapi::formIfLoaded<FMPass>();
    QVERIFY(dialog && dialog->isVisible());
    cacheapi::Benutzer = u"ADM|Anna Adler"_s;
    // Cancelled while the server list is up modally: everything is unloaded.
    QTimer::singleShot(0, this, [dialog] {
        if (dialog)
            dialog->findChild<QPushButton *>(u"BUAusst"_s)->click();
        else if (QWidget *modal = QApplication::activeModalWidget())
            modal->hide();
    });
    signin::showServerWindowModal(dialog);
    QVERIFY(m_fx->endeCalled);
    QVERIFY(cacheapi::Benutzer.isEmpty());
    QVERIFY(cacheapi::openForms().isEmpty());
    QVERIFY(dialog.isNull());
    // The dialog stored its placement while unloading.
    QVERIFY(!platform::GetSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMPass"_s).isEmpty());
}

void tst_FMPass::closeByCodeOnlyHides()
{
    auto *dialog = openDialog();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    dialog->close();
    QVERIFY(!dialog->isVisible());
    QVERIFY(!m_fx->endeCalled);
    QCOMPARE(cacheapi::formIfLoaded<FMPass>(), dialog);
    // Esc neither hides it nor ends anything.
    dialog->show();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(dialog->isVisible());
    QVERIFY(!m_fx->endeCalled);
}

void tst_FMPass::closeFromFrameEndsProgram()
{
    QPointer<FMPass> dialog = openDialog();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close); // as the window system sends it
    // Delivered straight to the window: sendEvent would clear the spontaneous mark.
    static_cast<QObject *>(dialog.data())->event(&close);
    QVERIFY(m_fx->endeCalled);
    QVERIFY(dialog.isNull());
}

QTEST_MAIN(tst_FMPass)
#include "tst_fmpass.moc"
