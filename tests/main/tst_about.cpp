// The about box: caption, title and version of this build, and every way the system
// information program is found or reported missing (registry stand-in file).
#include "main/frmAbout.h"
#include "main/sysinfo.h"
#include "platform/messagebox.h"
#include "platform/platform.h"
#include "session/forms.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString MsinfoKey = u"HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"_s;
const QString LocationKey = u"HKLM\\SOFTWARE\\Microsoft\\Shared Tools Location"_s;
const QString NotAvailable = u"Systeminformationen sind momentan nicht verfügbar"_s;

QString line(const QString &key, const QString &value, int type, const QByteArray &data)
{
    return key + u'|' + value + u'|' + QString::number(type) + u'|' + QString::fromLatin1(data.toHex());
}
} // namespace

class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void captionTitleAndVersion();
    void okAndEscapeUnload();
    void keyValueDropsTerminatingNul();
    void sysInfo_data();
    void sysInfo();

private:
    void writeRegistry(const QStringList &lines);
    QString script(const QString &path); // an executable that leaves a marker when it runs

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<platform::MessageBoxRecorder> m_boxes;
};

void tst_About::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_boxes = std::make_unique<platform::MessageBoxRecorder>();
    platform::setRegistryStandInFile(m_dir->filePath(u"registry.txt"_s));
}

void tst_About::cleanup()
{
    if (frmAbout *about = cacheapi::formIfLoaded<frmAbout>())
        cacheapi::Unload(about);
    platform::setRegistryStandInFile({});
    m_boxes.reset();
    m_dir.reset();
}

void tst_About::writeRegistry(const QStringList &lines)
{
    QFile f(m_dir->filePath(u"registry.txt"_s));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(lines.join(u'\n').toUtf8() + '\n');
}

QString tst_About::script(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write("#!/bin/sh\ntouch \"" + m_dir->filePath(u"started"_s).toUtf8() + "\"\n");
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    return path;
}

void tst_About::captionTitleAndVersion()
{
    frmAbout *about = cacheapi::form<frmAbout>();
    about->show();
    QCOMPARE(about->windowTitle(), u"Info zu Orvanta Web Admin"_s);
    QCOMPARE(about->findChild<QLabel *>(u"lblTitle"_s)->text(), u"Orvanta Web Admin"_s);
    const QString version = QString::number(ORVANTA_VERSION_MAJOR) + u'.' + QString::number(ORVANTA_VERSION_MINOR) +
                            u'.' + QString::number(ORVANTA_VERSION_PATCH);
    QCOMPARE(about->findChild<QLabel *>(u"lblVersion"_s)->text(), version);
    QCOMPARE(version, QString::fromLatin1(ORVANTA_VERSION));
    QCOMPARE(about->size(), QSize(550, 253));
    QCOMPARE(about->findChild<QPushButton *>(u"cmdSysInfo"_s)->text(), u"&Systeminfo..."_s);
    QVERIFY(about->findChild<QLabel *>(u"ctHyperLink1"_s)->text().contains(u"href=\"mailto:"_s));
    QVERIFY(about->findChild<QLabel *>(u"ctHyperLink2"_s)->text().contains(u"href=\"https://"_s));
    for (const QString &picture : {u"picIcon"_s, u"Image1"_s, u"Image2"_s})
        QVERIFY2(!about->findChild<QLabel *>(picture)->pixmap().isNull(), qPrintable(picture));
}

void tst_About::okAndEscapeUnload()
{
    frmAbout *about = cacheapi::form<frmAbout>();
    about->show();
    QVERIFY(about->findChild<QPushButton *>(u"cmdOK"_s)->isDefault());
    QTest::mouseClick(about->findChild<QPushButton *>(u"cmdOK"_s), Qt::LeftButton);
    QTRY_VERIFY(!cacheapi::formIfLoaded<frmAbout>());

    about = cacheapi::form<frmAbout>();
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QTest::keyClick(about, Qt::Key_Escape);
    QTRY_VERIFY(!cacheapi::formIfLoaded<frmAbout>());
}

void tst_About::keyValueDropsTerminatingNul()
{
    writeRegistry({line(MsinfoKey, u"PATH"_s, platform::RegSz, QByteArray("C:\\Tools\\info.exe\0", 18)),
                   line(LocationKey, u"MSINFO"_s, platform::RegSz, "C:\\Tools")});
    const auto withNul = orvanta::GetKeyValue(platform::RegistryRoot::LocalMachine,
                                              u"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"_s, u"PATH"_s);
    QVERIFY(withNul.found);
    QCOMPARE(withNul.value, u"C:\\Tools\\info.exe"_s);
    const auto without = orvanta::GetKeyValue(platform::RegistryRoot::LocalMachine,
                                              u"SOFTWARE\\Microsoft\\Shared Tools Location"_s, u"MSINFO"_s);
    QVERIFY(without.found);
    QCOMPARE(without.value, u"C:\\Tools"_s);
}

void tst_About::sysInfo_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("starts");
    QTest::newRow("no registry file") << u"none"_s << false;
    QTest::newRow("neither value") << u"empty"_s << false;
    QTest::newRow("path value") << u"path"_s << true;
    QTest::newRow("path value, program cannot start") << u"path-missing"_s << false;
    QTest::newRow("path value not text") << u"path-dword"_s << false;
    QTest::newRow("location value with program") << u"location"_s << true;
    QTest::newRow("location value, program file missing") << u"location-missing"_s << false;
}

void tst_About::sysInfo()
{
    QFETCH(QString, setup);
    QFETCH(bool, starts);
    const QString folder = m_dir->filePath(u"tools"_s);
    QVERIFY(QDir().mkpath(folder));
    const QString program = script(m_dir->filePath(u"info.sh"_s));
    QVERIFY(!program.isEmpty());

    if (setup == u"empty")
        writeRegistry({line(u"HKLM\\SOFTWARE\\Other"_s, u"PATH"_s, platform::RegSz, "x")});
    else if (setup == u"path")
        writeRegistry({line(MsinfoKey, u"PATH"_s, platform::RegSz, program.toUtf8() + '\0')});
    else if (setup == u"path-missing")
        writeRegistry({line(MsinfoKey, u"PATH"_s, platform::RegSz, m_dir->filePath(u"gone.sh"_s).toUtf8())});
    else if (setup == u"path-dword")
        writeRegistry({line(MsinfoKey, u"PATH"_s, platform::RegDword, QByteArray("\x01\0\0\0", 4))});
    else if (setup == u"location") {
        QVERIFY(!script(folder + u"/MSINFO32.EXE"_s).isEmpty());
        writeRegistry({line(LocationKey, u"MSINFO"_s, platform::RegSz, folder.toUtf8() + '\0')});
    } else if (setup == u"location-missing")
        writeRegistry({line(LocationKey, u"MSINFO"_s, platform::RegSz, folder.toUtf8())});

    frmAbout *about = cacheapi::form<frmAbout>();
    about->show();
    QTest::mouseClick(about->findChild<QPushButton *>(u"cmdSysInfo"_s), Qt::LeftButton);
    if (starts) {
        QCOMPARE(m_boxes->count(), 0);
        QTRY_VERIFY(QFile::exists(m_dir->filePath(u"started"_s)));
    } else {
        QCOMPARE(m_boxes->count(), 1);
        QCOMPARE(m_boxes->last().text, NotAvailable);
        QCOMPARE(m_boxes->last().title, QString());
        QCOMPARE(m_boxes->last().buttons, platform::Buttons::Ok);
        QCOMPARE(m_boxes->last().icon, platform::Icon::None);
        QVERIFY(!QFile::exists(m_dir->filePath(u"started"_s)));
    }
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
