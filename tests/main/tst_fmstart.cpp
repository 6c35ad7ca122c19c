// The main window against a seeded server: start-up with a command-line sign-in, the
// fallback to the sign-in dialog after a refusal, the tenant choice and the mode applied to
// frames, buttons and toolbar, menus, shortcuts, the toolbar's editors and the program's end.
#include "factory/factory.h"
#include "main/FMStart.h"
#include "main/frmAbout.h"
#include "main/orvanta.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "session/frmProgrammverlauf.h"
#include "signin/FMPass.h"
#include "tests/support/sessionfixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <memory>

using namespace Qt::StringLiterals;

class tst_FMStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startupWithCommandLine();
    void startupInFtpMode();
    void tenantMissingFromListLeavesNoSelection();
    void refusedCommandLineFallsBackToDialog();
    void cancelledSignInEndsLoad();
    void tenantChoice_data();
    void tenantChoice();
    void userPickAppliesOnce();
    void tenantChoiceReconnects();
    void menusAndToolbar();
    void shortcutsFromAnyControl();
    void toolbarOpensEditorsModally_data();
    void toolbarOpensEditorsModally();
    void endingStoresPlacementAndCallsEnde_data();
    void endingStoresPlacementAndCallsEnde();

private:
    QString commandLine(const QString &firma, const QString &password) const;
    bool load(const QString &firma = u"1"_s, const QString &password = u"admin"_s);
    QString serverJobTenant();
    void storeDefaultServer(); // the connection a pass through the sign-in dialog uses
    template <class T> T *child(const QString &name) const { return m_window->findChild<T *>(name); }
    QString enabledState() const; // the mode-dependent controls as a compact text

    std::unique_ptr<SessionFixture> m_fx;
    QPointer<FMStart> m_window;
};

void tst_FMStart::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
    // The program starts from nothing: no connection, no signed-in user.
    cacheapi::resetSession();
    orvanta::Modus.clear();
}

void tst_FMStart::cleanup()
{
    m_fx.reset();
    QVERIFY(!m_window);
}

QString tst_FMStart::commandLine(const QString &firma, const QString &password) const
{
    return firma + u" 0 ADM "_s + password + u" 127.0.0.1 "_s + QString::number(m_fx->server().port()) +
           u" VARELO"_s;
}

bool tst_FMStart::load(const QString &firma, const QString &password)
{
    platform::setCommandLine(commandLine(firma, password));
    m_window = cacheapi::form<FMStart>();
    const bool loaded = m_window->Form_Load();
    if (loaded && m_window)
        m_window->show();
    return loaded;
}

void tst_FMStart::storeDefaultServer()
{
    const QString app = u"Cache Login"_s, section = u"Login"_s;
    platform::SaveSetting(app, section, u"ServerObjekt"_s, u"0"_s);
    platform::SaveSetting(app, section, u"Server"_s, u"127.0.0.1"_s);
    platform::SaveSetting(app, section, u"Port"_s, QString::number(m_fx->server().port()));
    platform::SaveSetting(app, section, u"Namespace"_s, u"VARELO"_s);
    platform::SaveSetting(app, section, u"Firma"_s, u"1"_s);
    platform::SaveSetting(app, section, u"Filiale"_s, u"0"_s);
}

QString tst_FMStart::serverJobTenant()
{
    auto windows = cacheapi::Factory->Static(u"VR.Windows"_s);
    return factory::toText(windows->call(u"Xecute"_s, {u"W $G(FIRMA)"_s}));
}

QString tst_FMStart::enabledState() const
{
    QStringList on;
    for (const QString &name : {u"frserver"_s, u"frftp"_s})
        if (child<QGroupBox>(name)->isEnabled())
            on << name;
    for (const QString &name : {u"BUArtikel"_s, u"BUKond"_s, u"BUFrei"_s, u"BUftpaufbau"_s, u"BUBmecat"_s})
        if (child<QPushButton>(name)->isEnabled())
            on << name;
    for (int i = 1; i <= 6; ++i)
        if (m_window->toolButton(i)->isEnabled())
            on << QString::number(i);
    return on.join(u' ');
}

void tst_FMStart::startupWithCommandLine()
{
    QVERIFY(load());
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(m_window->windowTitle(),
             u"VARELO Orvanta Web             Firma: 1     Filiale: 0     Benutzer: ADM|Anna Adler"_s);
    auto *tenants = child<QComboBox>(u"limandant"_s);
    QCOMPARE(tenants->count(), 3);
    QCOMPARE(tenants->currentIndex(), 0);
    QCOMPARE(tenants->currentText(), u"1\nOrvanta Handelsgesellschaft mbH"_s);
    QCOMPARE(tenants->itemText(2), u"3\nOrvanta Süd KG"_s);
    QCOMPARE(orvanta::Modus, u"server"_s);
    QCOMPARE(enabledState(), u"frserver BUArtikel BUKond BUFrei BUBmecat 1 2 3 4 5 6"_s);
    QCOMPARE(child<QLabel>(u"Label1"_s)->buddy(), tenants);
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_FMStart::startupInFtpMode()
{
    QVERIFY(load(u"2"_s, u"admin2"_s));
    QCOMPARE(m_window->windowTitle(),
             u"VARELO Orvanta Web             Firma: 2     Filiale: 0     Benutzer: ADM|Anna Adler"_s);
    QCOMPARE(child<QComboBox>(u"limandant"_s)->currentIndex(), 1);
    QCOMPARE(orvanta::Modus, u"ftp"_s);
    QCOMPARE(enabledState(), u"frftp BUftpaufbau BUBmecat 1 2 3 4 6"_s);
}

void tst_FMStart::tenantMissingFromListLeavesNoSelection()
{
    {
        // The tenant master loses tenant 1 while its users can still sign in.
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"tenants"_s);
        db.setDatabaseName(m_fx->server().dataDir() + u"/VARELO.db"_s);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(u"DELETE FROM vr_firma WHERE \"Firma\"='1'"_s));
        db.close();
    }
    QSqlDatabase::removeDatabase(u"tenants"_s);
    QVERIFY(load());
    auto *tenants = child<QComboBox>(u"limandant"_s);
    QCOMPARE(tenants->count(), 2);
    QCOMPARE(tenants->currentIndex(), -1);
    QVERIFY(m_window->windowTitle().contains(u"Firma: 1 "_s));
}

void tst_FMStart::refusedCommandLineFallsBackToDialog()
{
    storeDefaultServer();
    int dialogsShown = 0;
    QTimer driver;
    driver.setInterval(20);
    connect(&driver, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<FMPass *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        driver.stop();
        ++dialogsShown;
        QTest::keyClicks(dialog->findChild<QLineEdit *>(u"BPASSWORT"_s), u"admin"_s);
        dialog->BUSpeich_Click();
    });
    driver.start();

    QVERIFY(load(u"1"_s, u"falsch"_s));
    QCOMPARE(dialogsShown, 1);
    // One refusal of the command line's values, then the dialog's sign-in.
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().text, u"Passwort Falsch oder Benutzer nicht Aktiv."_s);
    QVERIFY(m_window->windowTitle().endsWith(u"Benutzer: ADM|Anna Adler"_s));
    QCOMPARE(orvanta::Modus, u"server"_s);
}

void tst_FMStart::cancelledSignInEndsLoad()
{
    storeDefaultServer();
    QTimer driver;
    driver.setInterval(20);
    connect(&driver, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<FMPass *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        driver.stop();
        dialog->BUAusst_Click();
    });
    driver.start();

    QVERIFY(!load(u"1"_s, u"falsch"_s));
    QVERIFY(m_fx->endeCalled);
    QVERIFY(!m_window); // Ende unloaded it
}

void tst_FMStart::tenantChoice_data()
{
    QTest::addColumn<bool>("withIndex");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("firma");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("enabled");
    const QString ftp = u"frftp BUftpaufbau BUBmecat 1 2 3 4 6"_s;
    const QString none = u"BUBmecat 1 2 3 4 6"_s;
    for (const bool withIndex : {true, false}) {
        const char *how = withIndex ? "with index" : "without index";
        QTest::addRow("%s: ftp", how) << withIndex << 1 << u"2"_s << u"ftp"_s << ftp;
        QTest::addRow("%s: no mode", how) << withIndex << 2 << u"3"_s << QString() << none;
    }
}

void tst_FMStart::tenantChoice()
{
    QFETCH(bool, withIndex);
    QFETCH(int, index);
    QFETCH(QString, firma);
    QFETCH(QString, mode);
    QFETCH(QString, enabled);
    QVERIFY(load());
    auto *tenants = child<QComboBox>(u"limandant"_s);
    if (withIndex) {
        m_window->limandant_ItemSelected(index);
    } else {
        tenants->setCurrentIndex(index); // the notification without an index follows the selection
    }
    QCOMPARE(cacheapi::Firma, firma);
    QCOMPARE(orvanta::Modus, mode);
    QCOMPARE(enabledState(), enabled);
    QCOMPARE(m_fx->boxes().count(), 0);
    // Later server work is done for the chosen tenant, the server job's own included.
    QCOMPARE(serverJobTenant(), firma);

    // Back to tenant 1: the "server" mode again, the same way.
    QTest::qWait(1);
    if (withIndex)
        m_window->limandant_ItemSelected(0);
    else
        tenants->setCurrentIndex(0);
    QCOMPARE(cacheapi::Firma, u"1"_s);
    QCOMPARE(enabledState(), u"frserver BUArtikel BUKond BUFrei BUBmecat 1 2 3 4 5 6"_s);
}

void tst_FMStart::userPickAppliesOnce()
{
    QVERIFY(load());
    auto *tenants = child<QComboBox>(u"limandant"_s);
    // A pick in the list changes the current item and then reports the activation: both
    // notifications arrive, the tenant is switched once (the mode asked, the server job told).
    const quint64 before = cacheapi::Factory->roundTrips();
    tenants->setCurrentIndex(1);
    emit tenants->activated(1);
    QCOMPARE(cacheapi::Factory->roundTrips() - before, quint64(2));
    QCOMPARE(cacheapi::Firma, u"2"_s);

    // Picking the current item again asks afresh.
    QTest::qWait(1);
    emit tenants->activated(1);
    QCOMPARE(cacheapi::Factory->roundTrips() - before, quint64(4));
}

void tst_FMStart::tenantChoiceReconnects()
{
    QVERIFY(load());
    cacheapi::setRetryWaitHundredths(20);
    m_fx->server().stop();
    // The server comes back while the choice waits for it; the retry's server list, should it
    // come up, is left as it is.
    QTimer::singleShot(100, this, [this] { QVERIFY(m_fx->server().restart()); });
    QTimer closer;
    closer.setInterval(50);
    connect(&closer, &QTimer::timeout, this, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->hide();
    });
    closer.start();
    m_window->limandant_ItemSelected(1);
    for (const platform::ShownMessage &box : std::as_const(m_fx->boxes().shown))
        QVERIFY2(box.title != u"Caché Zugriffsfehler", qPrintable(box.text));
    QCOMPARE(orvanta::Modus, u"ftp"_s);
    QCOMPARE(enabledState(), u"frftp BUftpaufbau BUBmecat 1 2 3 4 6"_s);
    QCOMPARE(serverJobTenant(), u"2"_s);
    QVERIFY(!m_fx->endeCalled);
}

void tst_FMStart::menusAndToolbar()
{
    QVERIFY(load());
    const QList<QAction *> menus = m_window->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->text(), u"&Datei"_s);
    QCOMPARE(menus[1]->text(), u"&Hilfe"_s);
    QStringList datei;
    for (QAction *a : menus[0]->menu()->actions())
        datei << (a->isSeparator() ? u"-"_s
                                   : a->objectName() + u'=' + a->text() + u'='
                                         + a->shortcut().toString(QKeySequence::PortableText));
    QCOMPARE(datei, (QStringList{u"mLogin=&Login="_s, u"mStapel=Stapel&läufe=Ctrl+L"_s, u"-"_s,
                                 u"Beenden=&Beenden="_s}));
    QStringList hilfe;
    for (QAction *a : menus[1]->menu()->actions())
        hilfe << a->objectName() + u'=' + a->text() + u'=' + a->shortcut().toString(QKeySequence::PortableText);
    QCOMPARE(hilfe, (QStringList{u"HilfeUeber=Hilfe &über ...=F1"_s, u"mProgrammverlauf=Programmverlauf=Ctrl+F1"_s}));

    const QStringList captions = {u"Warengruppen"_s, u"Artikeltypen"_s, u"Kunden"_s,
                                  u"Negativliste Lieferanten"_s, u"Parameter"_s, u"Beenden"_s, u"Stapelläufe"_s};
    auto *toolbar = child<QToolBar>(u"tool1"_s);
    QCOMPARE(toolbar->actions().size(), 7);
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(toolbar->actions()[i], m_window->toolButton(i + 1));
        QCOMPARE(toolbar->actions()[i]->text(), captions[i]);
        QCOMPARE(toolbar->actions()[i]->toolTip(), captions[i]);
    }
    QCOMPARE(child<QPushButton>(u"BUFrei"_s)->text(), u"Freischalten Preise/Konditionen ( für alle Mandanten )"_s);
    QCOMPARE(child<QGroupBox>(u"frftp"_s)->title(), u"ftp Server Orvanta"_s);
    // Numbers outside the toolbar do nothing.
    m_window->tool1_ButtonClick(0);
    m_window->tool1_ButtonClick(8);
    QVERIFY(m_window);
    QVERIFY(!m_fx->endeCalled);
}

void tst_FMStart::shortcutsFromAnyControl()
{
    QVERIFY(load());
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    auto *tenants = child<QComboBox>(u"limandant"_s);
    tenants->setFocus();

    QTest::keyClick(tenants, Qt::Key_F1);
    frmAbout *about = cacheapi::formIfLoaded<frmAbout>();
    QVERIFY(about);
    QTRY_VERIFY(about->isVisible());
    QCOMPARE(about->parentWidget(), m_window.data());
    QVERIFY(!about->isModal());
    cacheapi::Unload(about);

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QTest::keyClick(child<QPushButton>(u"BUBmecat"_s), Qt::Key_F1, Qt::ControlModifier);
    auto *history = cacheapi::formIfLoaded<cacheapi::frmProgrammverlauf>();
    QVERIFY(history);
    QTRY_VERIFY(history->isVisible());
    QCOMPARE(history->parentWidget(), m_window.data());
    QCOMPARE(history->windowTitle(), u"Programmverlauf"_s);
}

void tst_FMStart::toolbarOpensEditorsModally_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("window");
    QTest::newRow("1 Warengruppen") << 1 << u"FMWargr"_s;
    QTest::newRow("2 Artikeltypen") << 2 << u"FMAtyp"_s;
    QTest::newRow("3 Kunden") << 3 << u"fmkund"_s;
    QTest::newRow("4 Negativliste Lieferanten") << 4 << u"fmlieferant"_s;
    QTest::newRow("5 Parameter") << 5 << u"FMParam"_s;
}

void tst_FMStart::toolbarOpensEditorsModally()
{
    QFETCH(int, number);
    QFETCH(QString, window);
    QVERIFY(load());
    QPointer<QWidget> seen;
    bool modalOwned = false;
    QTimer::singleShot(0, this, [&] {
        seen = QApplication::activeModalWidget();
        if (!seen)
            return;
        modalOwned = seen->objectName() == window && seen->parentWidget() == m_window;
        seen->hide();
    });
    m_window->toolButton(number)->trigger();
    QVERIFY(modalOwned);
    // Hidden, then unloaded by the main window.
    QVERIFY(!seen);
    for (QWidget *open : cacheapi::openForms())
        QVERIFY(open->objectName() != window);
    QVERIFY(m_window);
}

void tst_FMStart::endingStoresPlacementAndCallsEnde_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("toolbar") << u"toolbar"_s;
    QTest::newRow("menu") << u"menu"_s;
    QTest::newRow("close box") << u"close"_s;
}

void tst_FMStart::endingStoresPlacementAndCallsEnde()
{
    QFETCH(QString, how);
    QVERIFY(load());
    m_window->move(40, 60);
    if (how == u"toolbar")
        m_window->toolButton(FMStart::Beenden)->trigger();
    else if (how == u"menu")
        m_window->findChild<QAction *>(u"Beenden"_s)->trigger();
    else
        m_window->close();
    QTRY_VERIFY(m_fx->endeCalled);
    QVERIFY(!m_window);
    QVERIFY(cacheapi::Beendet);
    QVERIFY(!cacheapi::Factory || !cacheapi::Factory->IsConnected());
    const QString placement = platform::GetSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMOrvanta"_s);
    QCOMPARE(placement.split(u'|').size(), 4);
}

QTEST_MAIN(tst_FMStart)
#include "tst_fmstart.moc"
