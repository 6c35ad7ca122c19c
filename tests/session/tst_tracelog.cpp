// Trace lines in the history window, the error box, and the end of the program with its
// windows unloaded newest first.
#include "platform/messagebox.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "session/frmProgrammverlauf.h"

#include <QCloseEvent>
#include <QTest>
#include <QTreeWidget>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {
QStringList g_unloaded;

// A window that notes its unloading; one of them may fail while unloading.
class Probe final : public QWidget, public cacheapi::Unloadable
{
public:
    explicit Probe(const QString &name, bool failing = false) : m_failing(failing)
    {
        setObjectName(name);
        cacheapi::registerForm(this);
    }
    ~Probe() override { cacheapi::unregisterForm(this); }
    void Form_Unload() override
    {
        g_unloaded << objectName();
        if (m_failing)
            throw std::runtime_error("unload failed");
    }

private:
    bool m_failing;
};

QStringList row(QTreeWidgetItem *item) { return {item->text(0), item->text(1), item->text(2)}; }
} // namespace

class tst_TraceLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstLineCreatesHiddenWindow();
    void newestFirstAtMostHundred();
    void level255StaysOut();
    void closeBoxOnlyHides();
    void errorBoxTextAndTrace();
    void endeUnloadsNewestFirst();
    void unloadedWindowIsCreatedAfresh();

private:
    cacheapi::frmProgrammverlauf *history() { return cacheapi::formIfLoaded<cacheapi::frmProgrammverlauf>(); }
    std::unique_ptr<platform::MessageBoxRecorder> m_boxes;
    bool m_terminated = false;
};

void tst_TraceLog::init()
{
    cacheapi::resetSession();
    m_boxes = std::make_unique<platform::MessageBoxRecorder>();
    m_terminated = false;
    cacheapi::setTerminateHandler([this] { m_terminated = true; });
    g_unloaded.clear();
}

void tst_TraceLog::cleanup()
{
    const QList<QWidget *> forms = cacheapi::openForms();
    for (QWidget *w : forms)
        delete w;
    QVERIFY(cacheapi::openForms().isEmpty());
    m_boxes.reset();
    cacheapi::setTerminateHandler({});
}

void tst_TraceLog::firstLineCreatesHiddenWindow()
{
    QVERIFY(!history());
    cacheapi::Trace(u"FMServer.Form_Load"_s, u"Start"_s, {}, 40);
    QVERIFY(history());
    QVERIFY(!history()->isVisible());
    QCOMPARE(history()->windowTitle(), u"Programmverlauf"_s);
    auto *list = history()->findChild<QTreeWidget *>(u"Verlauf"_s);
    QVERIFY(list);
    QCOMPARE(list->columnCount(), 3);
    QCOMPARE(list->headerItem()->text(0), u"Programmteil"_s);
    QCOMPARE(list->headerItem()->text(1), u"Text"_s);
    QCOMPARE(list->headerItem()->text(2), u"Parameter"_s);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(row(list->topLevelItem(0)), (QStringList{u"FMServer.Form_Load"_s, u"Start"_s, QString()}));
}

void tst_TraceLog::newestFirstAtMostHundred()
{
    for (int i = 1; i <= 101; ++i)
        cacheapi::Trace(u"src"_s, u"Zeile "_s + QString::number(i), QString::number(i), 0);
    auto *list = history()->Verlauf();
    QCOMPARE(list->topLevelItemCount(), 100);
    QCOMPARE(list->topLevelItem(0)->text(1), u"Zeile 101"_s);
    QCOMPARE(list->topLevelItem(99)->text(1), u"Zeile 2"_s); // line 1 pushed out
    cacheapi::Trace(u"src"_s, u"Zeile 102"_s, {}, 254);
    QCOMPARE(list->topLevelItemCount(), 100);
    QCOMPARE(list->topLevelItem(99)->text(1), u"Zeile 3"_s);
}

void tst_TraceLog::level255StaysOut()
{
    cacheapi::Trace(u"a"_s, u"sichtbar"_s, {}, 0);
    cacheapi::Trace(u"b"_s, u"unsichtbar"_s, {}, 255);
    QCOMPARE(history()->Verlauf()->topLevelItemCount(), 1);
    QCOMPARE(history()->Verlauf()->topLevelItem(0)->text(1), u"sichtbar"_s);
}

void tst_TraceLog::closeBoxOnlyHides()
{
    cacheapi::Trace(u"a"_s, u"eins"_s, {}, 0);
    auto *window = history();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->close(); // refused as a close, done as a hide
    QVERIFY(!window->isVisible());
    QCOMPARE(history(), window); // still loaded, lines kept
    cacheapi::Trace(u"a"_s, u"zwei"_s, {}, 0);
    QCOMPARE(window->Verlauf()->topLevelItemCount(), 2);
}

void tst_TraceLog::errorBoxTextAndTrace()
{
    cacheapi::BusyDepth = 1;
    cacheapi::CacheFehlermeldung(factory::Error(2006, u"Objekt VR.KassaSW '9' nicht gefunden"_s),
                                 u"FMServer.ctList_Click Lade Verbindungsdaten"_s);
    QCOMPARE(m_boxes->count(), 1);
    const auto &box = m_boxes->last();
    QCOMPARE(box.title, u"Caché Zugriffsfehler"_s);
    QCOMPARE(box.icon, platform::Icon::Warning);
    QCOMPARE(box.buttons, platform::Buttons::Ok);
    QCOMPARE(box.text, u"Vorgang: FMServer.ctList_Click Lade Verbindungsdaten.\r\n\r\nFehler: 2006\r\n"
                       u"Objekt VR.KassaSW '9' nicht gefunden\r\n\r\n"_s);
    QCOMPARE(row(history()->Verlauf()->topLevelItem(0)),
             (QStringList{u"cacheapi.CacheFehlermeldung"_s, u"FMServer.ctList_Click Lade Verbindungsdaten"_s,
                          u"Fehler #2006 Objekt VR.KassaSW '9' nicht gefunden"_s}));
    QCOMPARE(cacheapi::BusyDepth, 0); // one level of server work ended

    // A failure that is not the server's carries number 0.
    cacheapi::CacheFehlermeldung(std::length_error("zu lang"), u"Test"_s);
    QVERIFY(m_boxes->last().text.contains(u"Fehler: 0\r\nzu lang"_s));
}

void tst_TraceLog::endeUnloadsNewestFirst()
{
    new Probe(u"erstes"_s);
    new Probe(u"zweites"_s, true); // fails while unloading, is skipped
    new Probe(u"drittes"_s);
    cacheapi::Trace(u"x"_s, u"y"_s, {}, 0); // the history window is the newest
    cacheapi::Ende();
    QVERIFY(m_terminated);
    QVERIFY(cacheapi::Beendet);
    QCOMPARE(g_unloaded, (QStringList{u"drittes"_s, u"zweites"_s, u"erstes"_s}));
    // Every window is gone, the failing one too; the closing trace line brought none back.
    QVERIFY(cacheapi::openForms().isEmpty());
}

void tst_TraceLog::unloadedWindowIsCreatedAfresh()
{
    cacheapi::Trace(u"a"_s, u"eins"_s, {}, 0);
    QPointer<cacheapi::frmProgrammverlauf> first = history();
    cacheapi::Unload(first);
    QVERIFY(first.isNull());
    cacheapi::Trace(u"a"_s, u"zwei"_s, {}, 0);
    QVERIFY(history());
    QCOMPARE(history()->Verlauf()->topLevelItemCount(), 1);
}

QTEST_MAIN(tst_TraceLog)
#include "tst_tracelog.moc"
