// Settings store and window placement: values kept per folder, placement stored in twips
// and restored, a minimised window leaving the stored placement alone.
#include "main/orvanta.h"
#include "platform/platform.h"

#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace Qt::StringLiterals;

class tst_Placement : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingsRoundTrip();
    void firstStartChangesNothing();
    void storedAndRestored();
    void minimisedWindowNotStored();
    void shortValueGivesZeroSizes();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Placement::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    platform::setSettingsFolder(m_dir->path());
}

void tst_Placement::cleanup()
{
    platform::setSettingsFolder({});
    m_dir.reset();
}

void tst_Placement::settingsRoundTrip()
{
    const QString app = u"Cache Login"_s;
    QCOMPARE(platform::GetSetting(app, u"Login"_s, u"Server"_s, u"127.0.0.1"_s), u"127.0.0.1"_s);
    QVERIFY(!platform::HasSetting(app, u"Login"_s, u"Server"_s));
    platform::SaveSetting(app, u"Login"_s, u"Server"_s, u"server.örtlich"_s);
    QVERIFY(platform::HasSetting(app, u"Login"_s, u"Server"_s));
    QCOMPARE(platform::GetSetting(app, u"Login"_s, u"Server"_s, u"x"_s), u"server.örtlich"_s);
    // An empty value is a value, not a missing key.
    platform::SaveSetting(app, u"Login"_s, u"Name"_s, QString());
    QCOMPARE(platform::GetSetting(app, u"Login"_s, u"Name"_s, u"default"_s), QString());
    // Control characters of a scrambled password survive.
    const QString scrambled = QString(QChar(0x01)) + u"\u0017a;b=c"_s;
    platform::SaveSetting(app, u"Login"_s, u"Passwort"_s, scrambled);
    QCOMPARE(platform::GetSetting(app, u"Login"_s, u"Passwort"_s), scrambled);
    // Applications are kept apart.
    QVERIFY(!platform::HasSetting(u"OrvantaWeb"_s, u"Login"_s, u"Server"_s));
}

void tst_Placement::firstStartChangesNothing()
{
    QWidget window;
    window.setGeometry(40, 50, 300, 200);
    QVERIFY(!orvanta::WindowposLaden(&window, u"FMWargr"_s));
    QCOMPARE(window.geometry(), QRect(40, 50, 300, 200));
}

void tst_Placement::storedAndRestored()
{
    QWidget window;
    window.setWindowTitle(u"Placement"_s);
    window.setGeometry(100, 120, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    orvanta::WindowposSichern(&window, u"FMKund"_s);
    const QString stored = platform::GetSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMKund"_s);
    const QStringList parts = stored.split(u'|');
    QCOMPARE(parts.size(), 4);
    const int tx = orvanta::twipsPerPixelX(), ty = orvanta::twipsPerPixelY();
    QCOMPARE(parts[2].toInt(), 400 * tx);
    QCOMPARE(parts[3].toInt(), 300 * ty);

    QWidget other;
    QVERIFY(orvanta::WindowposLaden(&other, u"FMKund"_s));
    QCOMPARE(other.size(), QSize(400, 300));
    QCOMPARE(other.pos(), window.frameGeometry().topLeft());

    // A placement off the screen is applied as it is.
    platform::SaveSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMKund"_s, u"-30000|-15000|4500|3000"_s);
    QVERIFY(orvanta::WindowposLaden(&other, u"FMKund"_s));
    QCOMPARE(other.pos(), QPoint(-30000 / tx, -15000 / ty));
}

void tst_Placement::minimisedWindowNotStored()
{
    platform::SaveSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMAtyp"_s, u"1500|1500|6000|4500"_s);
    QWidget window;
    window.setGeometry(10, 10, 250, 250);
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    orvanta::WindowposSichern(&window, u"FMAtyp"_s);
    QCOMPARE(platform::GetSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMAtyp"_s), u"1500|1500|6000|4500"_s);
}

void tst_Placement::shortValueGivesZeroSizes()
{
    platform::SaveSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMParam"_s, u"300abc|450"_s);
    QWidget window;
    window.setMinimumSize(50, 40);
    QVERIFY(orvanta::WindowposLaden(&window, u"FMParam"_s));
    QCOMPARE(window.pos(), QPoint(300 / orvanta::twipsPerPixelX(), 450 / orvanta::twipsPerPixelY()));
    QCOMPARE(window.size(), QSize(50, 40)); // the smallest size the window allows
}

QTEST_MAIN(tst_Placement)
#include "tst_placement.moc"
