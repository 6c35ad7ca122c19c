// The server connection list against seeded servers: loading, choosing an entry, storing
// the default, editing and saving an entry on the default server.
#include "signin/FMServer.h"

#include "factory/factory.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/connectionfields.h"
#include "session/frmProgrammverlauf.h"
#include "tests/support/sessionfixture.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
const QString App = u"Cache Login"_s;
const QString Section = u"Login"_s;
cacheapi::ConnectionFields &fields() { return cacheapi::ConnectionFields::instance(); }

QStringList lastTrace(int n)
{
    QStringList lines;
    auto *history = cacheapi::formIfLoaded<cacheapi::frmProgrammverlauf>();
    for (int i = 0; history && i < n && i < history->Verlauf()->topLevelItemCount(); ++i) {
        const auto *item = history->Verlauf()->topLevelItem(i);
        lines << item->text(0) + u';' + item->text(1);
    }
    return lines;
}
} // namespace

class tst_FMServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadsEntryList();
    void clickLoadsEntry();
    void rightButtonOpensMenu();
    void storesDefault();
    void storesNoEntryAs255();
    void editToggleAsksFirst();
    void savesEditedEntryOnDefaultServer();
    void savingWithoutEntryReportsError();
    void zurueckOnlyHides();

private:
    void clickRow(int row);
    QLineEdit *field(const QString &name) { return m_window->findChild<QLineEdit *>(name); }
    void storeDefaultServer(TestServer &server);

    std::unique_ptr<SessionFixture> m_fx;
    FMServer *m_window = nullptr;
    QTreeWidget *m_list = nullptr;
};

void tst_FMServer::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
    m_window = cacheapi::form<FMServer>();
    m_list = m_window->findChild<QTreeWidget *>(u"ctList"_s);
    QVERIFY(m_list);
}

void tst_FMServer::cleanup()
{
    m_window = nullptr;
    m_fx.reset();
}

void tst_FMServer::clickRow(int row)
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    const QRect rect = m_list->visualItemRect(m_list->topLevelItem(row));
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rect.center());
}

void tst_FMServer::storeDefaultServer(TestServer &server)
{
    platform::SaveSetting(App, Section, u"ServerObjekt"_s, u"0"_s);
    platform::SaveSetting(App, Section, u"Server"_s, server.host());
    platform::SaveSetting(App, Section, u"Port"_s, QString::number(server.port()));
}

void tst_FMServer::loadsEntryList()
{
    QCOMPARE(m_window->windowTitle(), u"VARELO Server"_s);
    QCOMPARE(m_list->columnCount(), 2);
    QCOMPARE(m_list->headerItem()->text(0), u"Nr"_s);
    QCOMPARE(m_list->headerItem()->text(1), u"Name"_s);
    QCOMPARE(m_list->topLevelItemCount(), 3);
    QCOMPARE(m_list->topLevelItem(0)->text(0), u"0"_s);
    QCOMPARE(m_list->topLevelItem(0)->text(1), u"Zentrale"_s);
    QCOMPARE(m_list->topLevelItem(2)->text(1), u"Gateway"_s);
    QCOMPARE(m_window->CurrentId(), 255);
    QCOMPARE(cacheapi::BusyDepth, 0);
    QCOMPARE(lastTrace(2), (QStringList{u"FMServer.Form_Load;Ende"_s, u"FMServer.Form_Load;Start"_s}));

    // Fields start locked, showing the defaults.
    for (const QString &name : {u"BSERVERIP"_s, u"BPORT"_s, u"BFIRMA"_s, u"BFIL"_s, u"BWJ"_s, u"BNAMESPACE"_s})
        QVERIFY2(field(name) && !field(name)->isEnabled(), qPrintable(name));
    QCOMPARE(field(u"BSERVERIP"_s)->text(), cacheapi::DefaultServerIP);
    QCOMPARE(field(u"BPORT"_s)->text(), u"1973"_s);
    QVERIFY(!m_window->Lock()->isActive());
}

void tst_FMServer::clickLoadsEntry()
{
    clickRow(1);
    QCOMPARE(fields().BFIL(), u"2"_s);
    QCOMPARE(fields().BFIRMA(), u"1"_s);
    QCOMPARE(fields().BSERVERIP(), u"127.0.0.1"_s);
    QCOMPARE(fields().BPORT(), u"1973"_s);
    QCOMPARE(fields().BNAMESPACE(), u"VARELO"_s);
    QCOMPARE(m_window->CurrentId(), 1);
    QCOMPARE(field(u"BFIL"_s)->text(), u"2"_s); // the window shows the working copy

    // The first entry loads like every other, and so does the last.
    clickRow(0);
    QCOMPARE(m_window->CurrentId(), 0);
    QCOMPARE(fields().BFIL(), u"0"_s);
    clickRow(2);
    QCOMPARE(m_window->CurrentId(), 2);
    QCOMPARE(fields().BNAMESPACE(), u"GATEWAY"_s);
    QCOMPARE(lastTrace(2), (QStringList{u"FMServer.ctList_Click;Ende"_s, u"FMServer.ctList_Click;Start"_s}));
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_FMServer::rightButtonOpensMenu()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    auto *menu = m_window->findChild<QMenu *>(u"HRechts"_s);
    QVERIFY(menu);
    QCOMPARE(menu->title(), u"HRechs"_s);
    QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!menu->isVisible());
    QTest::mousePress(m_list->viewport(), Qt::RightButton, {}, QPoint(5, 5));
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->actions().at(0)->text(), u"Eintrag als Standard"_s);
    menu->hide();
}

void tst_FMServer::storesDefault()
{
    fields().setKeinDefaultEintrag(true);
    clickRow(1);
    m_window->findChild<QAction *>(u"mRechts"_s)->trigger();
    QVERIFY(!fields().KeinDefaultEintrag());
    QCOMPARE(platform::GetSetting(App, Section, u"ServerObjekt"_s), u"1"_s);
    QCOMPARE(platform::GetSetting(App, Section, u"Firma"_s), u"1"_s);
    QCOMPARE(platform::GetSetting(App, Section, u"Filiale"_s), u"2"_s);
    QCOMPARE(platform::GetSetting(App, Section, u"Server"_s), u"127.0.0.1"_s);
    QCOMPARE(platform::GetSetting(App, Section, u"Port"_s), u"1973"_s);
    QCOMPARE(platform::GetSetting(App, Section, u"Namespace"_s), u"VARELO"_s);
    QCOMPARE(lastTrace(4), (QStringList{u"FMServer.mRechts_Click;Ende"_s, u"FMServer.Sichern;Ende"_s,
                                        u"FMServer.Sichern;Start"_s, u"FMServer.mRechts_Click;Start"_s}));

    // Another index is a programming fault, traced and otherwise ignored.
    m_window->mRechts_Click(3);
    QCOMPARE(lastTrace(2).last(), u"FMServer.mRechts_Click;Programmierter Fehler Case"_s);
}

void tst_FMServer::storesNoEntryAs255()
{
    m_window->Sichern();
    QCOMPARE(platform::GetSetting(App, Section, u"ServerObjekt"_s), u"255"_s);
    QCOMPARE(platform::GetSetting(App, Section, u"Filiale"_s), u"0"_s);
}

void tst_FMServer::editToggleAsksFirst()
{
    auto *edit = m_window->findChild<QPushButton *>(u"BUEdit"_s);
    QCOMPARE(edit->text(), u"Ändern"_s);
    m_fx->boxes().queueAnswer(platform::Answer::No);
    edit->click();
    QCOMPARE(m_fx->boxes().last().text, u"Änderungen erlauben?"_s);
    QCOMPARE(m_fx->boxes().last().title, u"Anmeldung an Caché"_s);
    QCOMPARE(m_fx->boxes().last().buttons, platform::Buttons::YesNo);
    QVERIFY(!field(u"BPORT"_s)->isEnabled());

    // Asked again, allowed this time.
    m_fx->boxes().queueAnswer(platform::Answer::Yes);
    edit->click();
    QCOMPARE(m_fx->boxes().count(), 2);
    QCOMPARE(m_fx->boxes().last().text, u"Änderungen erlauben?"_s);
    for (const QString &name : {u"BSERVERIP"_s, u"BPORT"_s, u"BFIRMA"_s, u"BFIL"_s, u"BNAMESPACE"_s})
        QVERIFY2(field(name)->isEnabled(), qPrintable(name));
    QVERIFY(!field(u"BWJ"_s)->isEnabled());

    // Typing edits the session's working copy.
    QTest::keyClicks(field(u"BFIL"_s), u"9"_s);
    QCOMPARE(fields().BFIL(), u"09"_s);

    // Not saved: locked again, the text stays.
    m_fx->boxes().queueAnswer(platform::Answer::No);
    edit->click();
    QCOMPARE(m_fx->boxes().last().text,
             u"Änderungen sichern?\r\nDer Eintrag wird am Standardserver gespeichert"_s);
    QVERIFY(!field(u"BFIL"_s)->isEnabled());
    QCOMPARE(field(u"BFIL"_s)->text(), u"09"_s);
}

void tst_FMServer::savesEditedEntryOnDefaultServer()
{
    // The session works on the fixture's server; the stored default is another one.
    TestServer defaultServer;
    QVERIFY(defaultServer.start());
    storeDefaultServer(defaultServer);
    clickRow(1);
    auto *edit = m_window->findChild<QPushButton *>(u"BUEdit"_s);
    edit->click(); // allowed (recorded boxes answer Yes)
    QLineEdit *fil = field(u"BFIL"_s);
    fil->selectAll();
    QTest::keyClicks(fil, u"5"_s);
    QLineEdit *ns = field(u"BNAMESPACE"_s);
    ns->selectAll();
    QTest::keyClicks(ns, u"VARELO"_s);
    edit->click(); // saved
    QCOMPARE(m_fx->boxes().count(), 2);
    QCOMPARE(lastTrace(1), QStringList{u"FMServer.BUEdit_Click;Ende"_s});

    factory::Factory other;
    QVERIFY(defaultServer.connect(other));
    auto saved = other.OpenId(u"VR.KassaSW"_s, u"1"_s);
    QCOMPARE(factory::toText(saved->get(u"FIL"_s)), u"5"_s);
    QCOMPARE(factory::toText(saved->get(u"Type"_s)), u"0"_s);
    auto untouched = m_fx->probe().OpenId(u"VR.KassaSW"_s, u"1"_s);
    QCOMPARE(factory::toText(untouched->get(u"FIL"_s)), u"2"_s);

    // The window's fields are the session's connection data now.
    QCOMPARE(cacheapi::Filiale, u"5"_s);
    QCOMPARE(cacheapi::ServerObjekt, u"1"_s);
    QCOMPARE(cacheapi::ConnString, u"cn_iptcp:127.0.0.1[1973]:VARELO"_s);
}

void tst_FMServer::savingWithoutEntryReportsError()
{
    storeDefaultServer(m_fx->server());
    auto *edit = m_window->findChild<QPushButton *>(u"BUEdit"_s);
    edit->click();
    edit->click(); // CurrentId is 255: no such entry
    QCOMPARE(m_fx->boxes().count(), 3);
    const auto &box = m_fx->boxes().last();
    QCOMPARE(box.title, u"Caché Zugriffsfehler"_s);
    QVERIFY2(box.text.startsWith(u"Vorgang: FMServer.BUEdit_Click Sichern Verbindungsdaten.\r\n\r\nFehler: 2006"_s),
             qPrintable(box.text));
    QCOMPARE(lastTrace(1), QStringList{u"FMServer.BUEdit_Click;Ende mit Fehler"_s});
    // Still usable.
    clickRow(0);
    QCOMPARE(m_window->CurrentId(), 0);
}

void tst_FMServer::zurueckOnlyHides()
{
    clickRow(2);
    QTimer::singleShot(0, this, [this] {
        QTRY_VERIFY(m_window->isVisible());
        m_window->findChild<QPushButton *>(u"BUZurück"_s)->click();
    });
    m_window->exec();
    QVERIFY(!m_window->isVisible());
    QCOMPARE(cacheapi::formIfLoaded<FMServer>(), m_window);
    QCOMPARE(m_window->CurrentId(), 2);
}

QTEST_MAIN(tst_FMServer)
#include "tst_fmserver.moc"
