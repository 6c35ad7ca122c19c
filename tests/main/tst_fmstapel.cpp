// The batch run monitor against one server that serves the gateway namespace beside the main
// one, as the demo does: the gateway's imports show beside the release that wrote their file.
// A second connection holds the write lock where a run has to be caught while it runs.
#include "factory/factory.h"
#include "main/FMStapel.h"
#include "main/FMStart.h"
#include "main/batchrunsmodel.h"
#include "main/fmbmecat.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "tests/support/sessionfixture.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
namespace runs = orvanta::batchruns;

class tst_FMStapel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void runsOfEachJobWithTheirState();
    void failedImportShowsItsText();

private:
    FMStapel *openMonitor();
    // "job|state" of the rows the monitor shows, top first.
    QStringList shown() const;
    QString x(const QString &line) { return m_holder->Static(u"VR.Windows"_s)->call(u"Xecute"_s, {line}).toString(); }
    void setParam(const QString &property, const QString &value);
    QPushButton *button(const QString &name) const { return m_window->findChild<QPushButton *>(name); }
    QString statusText() const { return m_window->statusBar()->currentMessage(); }

    std::unique_ptr<SessionFixture> m_fx;
    std::unique_ptr<factory::Factory> m_holder; // holds the write lock when asked to
    QPointer<FMStart> m_window;
    QPointer<FMStapel> m_monitor;
};

void tst_FMStapel::init()
{
    TestServer::Options options;
    options.namespaces = {u"VARELO"_s, u"GATEWAY"_s};
    m_fx = std::make_unique<SessionFixture>(options);
    QVERIFY(m_fx->start());
    setParam(u"dbgateway"_s, m_fx->server().connectionString(u"GATEWAY"_s));
    setParam(u"dbbmecat"_s, m_fx->server().connectionString(u"GATEWAY"_s));
    m_holder = std::make_unique<factory::Factory>();
    QVERIFY(m_fx->server().connect(*m_holder));

    cacheapi::resetSession();
    platform::setCommandLine(u"1 0 ADM admin 127.0.0.1 "_s + QString::number(m_fx->server().port()) + u" VARELO"_s);
    m_window = cacheapi::form<FMStart>();
    QVERIFY(m_window->Form_Load());
    m_window->show();
    m_fx->boxes().clear();
}

void tst_FMStapel::cleanup()
{
    m_holder.reset();
    m_fx.reset();
    QVERIFY(!m_window);
    QVERIFY(!m_monitor);
}

FMStapel *tst_FMStapel::openMonitor()
{
    m_window->findChild<QAction *>(u"mStapel"_s)->trigger();
    m_monitor = cacheapi::formIfLoaded<FMStapel>();
    return m_monitor;
}

QStringList tst_FMStapel::shown() const
{
    QStringList rows;
    const QAbstractItemModel *model = m_monitor->view()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        rows << model->index(row, runs::Model::Job).data().toString() + u'|'
                    + model->index(row, runs::Model::State).data().toString();
    return rows;
}

void tst_FMStapel::setParam(const QString &property, const QString &value)
{
    auto param = m_fx->probe().OpenId(u"orvanta.param"_s, u"1"_s);
    param->set(property, value);
    param->sys_Save();
}

void tst_FMStapel::runsOfEachJobWithTheirState()
{
    FMStapel *monitor = openMonitor();
    QVERIFY(monitor);
    QAbstractItemModelTester tester(monitor->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(monitor->windowTitle(), u"Varelo Orvanta Web - Stapelläufe"_s);
    QCOMPARE(monitor->parentWidget(), m_window.data());
    QVERIFY(!monitor->isModal());
    QVERIFY(shown().isEmpty());
    QVERIFY(!monitor->refreshing());

    // Caught while it runs: another job holds the write lock.
    x(u"TSTART  S ^HALT=1"_s);
    button(u"BUArtikel"_s)->click();
    QCOMPARE(statusText(), u"Stapellauf gestartet: Stapelaufbau Artikel – Details unter Datei › Stapelläufe"_s);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringList{u"Stapelaufbau Artikel|läuft"_s}, 3000);
    QVERIFY(monitor->refreshing());
    const QModelIndex running = monitor->view()->model()->index(0, runs::Model::Outcome);
    QTRY_COMPARE_WITH_TIMEOUT(running.data().toString(), u"läuft: wartet auf die Datenbank (ein anderer Job schreibt)"_s,
                              10000);
    monitor->view()->selectRow(0);

    // A second start goes on top; the user's pick stays on the run he chose.
    button(u"BUKond"_s)->click();
    QTRY_COMPARE_WITH_TIMEOUT(monitor->view()->model()->rowCount(), 2, 3000);
    QCOMPARE(shown().at(0).section(u'|', 0, 0), u"Stapelaufbau Konditionen"_s);
    const QModelIndexList picked = monitor->view()->selectionModel()->selectedRows(runs::Model::Job);
    QCOMPARE(picked.size(), 1);
    QCOMPARE(picked.first().data().toString(), u"Stapelaufbau Artikel"_s);

    x(u"TROLLBACK"_s);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), (QStringList{u"Stapelaufbau Konditionen|fertig"_s, u"Stapelaufbau Artikel|fertig"_s}),
                              15000);
    // Nothing runs: the refresh has stopped.
    QTRY_VERIFY_WITH_TIMEOUT(!monitor->refreshing(), 3000);

    // The release with the gateway's import, the catalogue build and the file build.
    button(u"BUFrei"_s)->click();
    QVERIFY(statusText().startsWith(u"Stapellauf gestartet: Freischalten Preise/Konditionen ( für alle Mandanten )"_s));
    bool dialogShown = false;
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(qobject_cast<fmbmecat *>(QApplication::activeModalWidget()));
        dialogShown = true;
        QApplication::activeModalWidget()->findChild<QPushButton *>(u"BUStart"_s)->click();
    });
    button(u"BUBmecat"_s)->click();
    QVERIFY(dialogShown);
    QCOMPARE(statusText(), u"Stapellauf gestartet: Aufbau für BMECAT – Details unter Datei › Stapelläufe"_s);
    x(u"S FIRMA=1"_s);
    QCOMPARE(m_holder->Static(u"orvanta.param"_s)->call(u"ftpaufbau"_s).toInt(), 1);
    monitor->refreshSoon();
    // A gateway import may be recorded a moment before the call that wrote its file.
    const auto newest = [this] {
        QStringList five = shown().mid(0, 5);
        five.sort();
        return five;
    };
    QTRY_COMPARE_WITH_TIMEOUT(newest(),
                              (QStringList{u"Aufbau für BMECAT|fertig"_s, u"Aufbau und ftp-Versand Dateien|fertig"_s,
                                           u"Freischalten Preise/Konditionen ( für alle Mandanten )|fertig"_s,
                                           u"Gateway-Import|fertig"_s, u"Gateway-Import|fertig"_s}),
                              20000);
    const QAbstractItemModel *model = monitor->view()->model();
    const auto cell = [model](const QString &job, int column) {
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, runs::Model::Job).data().toString().startsWith(job))
                return model->index(row, column).data().toString();
        return QString();
    };
    QCOMPARE(cell(u"Aufbau und ftp"_s, runs::Model::OutputFile), u"ftp/1/wexl_export.txt"_s);
    QCOMPARE(cell(u"Freischalten"_s, runs::Model::OutputFile), u"wexl_export.txt"_s);
    QCOMPARE(cell(u"Freischalten"_s, runs::Model::StartedBy), u"ADM"_s);
    QVERIFY(cell(u"Freischalten"_s, runs::Model::Outcome).startsWith(u"ok: "_s));
    QVERIFY(!cell(u"Freischalten"_s, runs::Model::Duration).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!monitor->refreshing(), 3000);

    // The next action ends the message; the placement is kept under the window's key.
    m_window->findChild<QAction *>(u"tool1_7"_s)->trigger();
    QCOMPARE(statusText(), QString());
    QCOMPARE(cacheapi::formIfLoaded<FMStapel>(), monitor);
    monitor->close();
    QTRY_VERIFY(!m_monitor);
    QVERIFY(!platform::GetSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMStapel"_s, QString()).isEmpty());
}

void tst_FMStapel::failedImportShowsItsText()
{
    setParam(u"fileimport"_s, u"fehlt.txt"_s);
    button(u"BUFrei"_s)->click();
    FMStapel *monitor = openMonitor();
    QTRY_VERIFY_WITH_TIMEOUT(shown().contains(u"Gateway-Import|Fehler"_s)
                                 && shown().contains(u"Freischalten Preise/Konditionen ( für alle Mandanten )|fertig"_s),
                             10000);
    monitor->findChild<QCheckBox *>(u"chkFehler"_s)->setChecked(true);
    QCOMPARE(shown(), QStringList{u"Gateway-Import|Fehler"_s});
    const QAbstractItemModel *model = monitor->view()->model();
    const QString text = model->index(0, runs::Model::Outcome).data().toString();
    QVERIFY2(text.startsWith(u"Fehler: Importdatei fehlt.txt nicht lesbar"_s), qPrintable(text));

    // The whole text, to read and copy, not to change.
    const QModelIndex cell = model->index(0, runs::Model::Outcome);
    const QPoint at = monitor->view()->visualRect(cell).center();
    QTest::mouseClick(monitor->view()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(monitor->view()->viewport(), Qt::LeftButton, {}, at);
    auto *box = monitor->findChild<QDialog *>(u"FMStapelErgebnis"_s);
    QVERIFY(box);
    QTRY_VERIFY(box->isVisible());
    auto *edit = box->findChild<QPlainTextEdit *>(u"txtErgebnis"_s);
    QCOMPARE(edit->toPlainText(), text);
    QVERIFY(edit->isReadOnly());
    QVERIFY(edit->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    box->reject();
    QCOMPARE(m_fx->boxes().count(), 0);
}

QTEST_MAIN(tst_FMStapel)
#include "tst_fmstapel.moc"
