// The message box wrapper shown for real: the title bar the window gets.
#include "platform/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace Qt::StringLiterals;

class tst_MessageBox : public QObject
{
    Q_OBJECT

private slots:
    void titleBar_data();
    void titleBar();
};

void tst_MessageBox::titleBar_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shown");
    // An empty title would be filled with the program's name by the platform.
    QTest::newRow("empty") << QString() << u" "_s;
    QTest::newRow("given") << u"Fehler: Suchbegriffseingabe"_s << u"Fehler: Suchbegriffseingabe"_s;
}

void tst_MessageBox::titleBar()
{
    QFETCH(QString, title);
    QFETCH(QString, shown);
    QApplication::setApplicationName(u"Orvanta Web Admin"_s);
    QString windowTitle, platformTitle, text;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        windowTitle = box->windowTitle();
        platformTitle = box->windowHandle() ? box->windowHandle()->title() : u"no window"_s;
        text = box->text();
        box->accept();
    });
    platform::messageBox(nullptr, u"Kunde nicht gespeichert"_s, platform::Buttons::Ok,
                         platform::Icon::Information, title);
    QCOMPARE(text, u"Kunde nicht gespeichert"_s);
    QCOMPARE(windowTitle, shown);
    QCOMPARE(platformTitle, shown);
}

QTEST_MAIN(tst_MessageBox)
#include "tst_messagebox.moc"
