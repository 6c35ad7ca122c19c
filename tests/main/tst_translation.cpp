// Qt's own dialogs speak German whatever the system's language is.
#include "main/translation.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_Translation : public QObject
{
    Q_OBJECT

private slots:
    void standardButtonsInGerman();
    void localeIsGerman();
};

void tst_Translation::standardButtonsInGerman()
{
    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel |
                         QDialogButtonBox::Ok);
    auto text = [&box](QDialogButtonBox::StandardButton b) { return box.button(b)->text().remove(u'&'); };
    QCOMPARE(text(QDialogButtonBox::Yes), u"Ja"_s);
    QCOMPARE(text(QDialogButtonBox::No), u"Nein"_s);
    QCOMPARE(text(QDialogButtonBox::Cancel), u"Abbrechen"_s);
    QCOMPARE(text(QDialogButtonBox::Ok), u"OK"_s);

    QMessageBox message(QMessageBox::Question, u"Frage"_s, u"Weiter?"_s, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(message.button(QMessageBox::Yes)->text().remove(u'&'), u"Ja"_s);
    QCOMPARE(message.button(QMessageBox::No)->text().remove(u'&'), u"Nein"_s);
}

void tst_Translation::localeIsGerman()
{
    QCOMPARE(QLocale().language(), QLocale::German);
    QCOMPARE(QLocale().toString(1234.5, 'f', 1), u"1.234,5"_s);
}

int main(int argc, char *argv[])
{
    // The system says nothing about German.
    qputenv("LANG", "C");
    qputenv("LC_ALL", "C");
    qunsetenv("LANGUAGE");
    QApplication app(argc, argv);
    if (!orvanta::installGermanTranslation(app))
        qWarning("German translation not installed");
    tst_Translation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translation.moc"
