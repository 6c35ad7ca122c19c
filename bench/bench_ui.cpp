// Round trips and time of what a user does, through the real windows (offscreen, or on the
// platform given) against a running server; and, with --startup, the time from process start to
// the sign-in dialog on the screen.
//
//   bench_ui --port PORT [--rows N] [--label TEXT] [--bridge] [--startup]
//
// --rows: the customer list saved on the server before the editors open (the product-group
// window's customer combo and the customer list show it). --label is added to every figure.
// With --bridge the run waits for the accessibility bridge and measures nothing without it.

#include "bench/stats.h"
#include "editors/FMAtyp.h"
#include "editors/FMWargr.h"
#include "editors/fmkund.h"
#include "editors/listeditorgrid.h"
#include "main/FMStart.h"
#include "main/translation.h"
#include "platform/messagebox.h"
#include "platform/platform.h"
#include "search/FMKnrsu.h"
#include "session/cacheapi.h"
#include "session/forms.h"

#include <QAccessible>
#include <QApplication>
#include <QPrinter>
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QStandardItem>
#include <QTreeWidget>
#include <QComboBox>

#include <unistd.h>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace bench;

namespace {

// Seconds since this process was started by the system (before main and the dynamic loader).
double secondsSinceProcessStart()
{
    QFile stat(u"/proc/self/stat"_s);
    QFile uptime(u"/proc/uptime"_s);
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = stat.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    const double up = uptime.readAll().split(' ').value(0).toDouble();
    return up - startTicks / double(sysconf(_SC_CLK_TCK));
}

QString peakMemory()
{
    QFile f(u"/proc/self/status"_s);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return QString::fromLatin1(line.mid(6).trimmed());
    return {};
}

template <class F> bool waitFor(F &&condition, int msec = 60000)
{
    QDeadlineTimer deadline(msec);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QString g_label;

quint64 trips() { return cacheapi::Factory ? cacheapi::Factory->roundTrips() : 0; }

struct Action
{
    Clock::time_point t0 = Clock::now();
    quint64 before = trips();
    void done(const QString &figure, const QString &note = {})
    {
        const double micros = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        row(figure + g_label, ms(micros), {}, {}, QString::number(trips() - before) + u" round trips"_s +
                                          (note.isEmpty() ? QString() : u", "_s + note));
    }
};

void storeDefaultConnection(const QString &port)
{
    const QString app = u"Cache Login"_s, sec = u"Login"_s;
    platform::SaveSetting(app, sec, u"ServerObjekt"_s, u"0"_s);
    platform::SaveSetting(app, sec, u"Server"_s, u"127.0.0.1"_s);
    platform::SaveSetting(app, sec, u"Port"_s, port);
    platform::SaveSetting(app, sec, u"Namespace"_s, u"VARELO"_s);
    platform::SaveSetting(app, sec, u"Firma"_s, u"1"_s);
    platform::SaveSetting(app, sec, u"Filiale"_s, u"0"_s);
    platform::SaveSetting(app, sec, u"Name"_s, u"ADM"_s);
}

// Client start to the sign-in dialog: ends the process once FMPass is shown.
class SignInShown final : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == u"FMPass") {
            row(u"client start to sign-in dialog shown"_s, ms(secondsSinceProcessStart() * 1e6), {}, {},
                u"peak memory "_s + peakMemory());
            std::fflush(stdout);
            std::_Exit(0);
        }
        return false;
    }
};

int runStartup(QApplication &app, const QString &port)
{
    storeDefaultConnection(port);
    SignInShown probe;
    app.installEventFilter(&probe);
    orvanta::installGermanTranslation(app);
    platform::setCommandLine({});
    cacheapi::form<FMStart>()->Form_Load();
    row(u"client start to sign-in dialog shown"_s, u"not shown"_s, {}, {}, {});
    return 1;
}

// The tenant's customer list as `count` numbers of the demo business.
void storeCustomerList(int count)
{
    QStringList numbers;
    auto rs = cacheapi::Factory->ResultSet(u"VR.Windows"_s, u"KkrSuche"_s);
    rs->Execute({u"1"_s, u"K"_s, u""_s, u""_s, u""_s});
    while (numbers.size() < count && rs->Next())
        numbers.append(factory::toText(rs->GetData(1)));
    rs->Close();
    cacheapi::Factory->Static(u"orvanta.wexlkunde"_s)->call(u"Save"_s, {u"1"_s, numbers.join(u'|'), u"orvanta.wexl"_s});
}

int runActions(const QString &port, int listRows)
{
    platform::MessageBoxRecorder boxes;
    cacheapi::setTerminateHandler([] {});

    platform::setCommandLine(u"1 0 ADM admin 127.0.0.1 "_s + port + u" VARELO"_s);
    {
        Action a;
        FMStart *start = cacheapi::form<FMStart>();
        if (!start->Form_Load() || cacheapi::Benutzer.isEmpty()) {
            qCritical("bench_ui: sign-in failed");
            return 1;
        }
        a.done(u"sign-in (command line) and main window load"_s);
    }
    storeCustomerList(listRows);

    {
        Action open;
        FMWargr *w = cacheapi::form<FMWargr>();
        w->show();
        waitFor([&] { return !w->treeItems().isEmpty(); });
        open.done(u"open FMWargr (product groups)"_s, QString::number(w->treeItems().size()) + u" groups, "_s +
                                                          QString::number(w->findChild<QComboBox *>(u"likund"_s)->count() - 1) +
                                                          u" customers"_s);
        int ticks = 0;
        for (QStandardItem *item : w->treeItems())
            if (!FMWargr::itemKey(item).endsWith(u"|0"_s)) {
                FMWargr::checkItem(item)->setCheckState(Qt::Checked);
                ++ticks;
            }
        Action save;
        w->findChild<QPushButton *>(u"BuSpeich"_s)->click();
        waitFor([&] { return !w->isVisible(); });
        save.done(u"save FMWargr"_s, QString::number(ticks) + u" ticks stored"_s);
        cacheapi::Unload(w);
    }

    {
        Action open;
        FMAtyp *w = cacheapi::form<FMAtyp>();
        w->show();
        auto *list = w->findChild<QTreeWidget *>(u"liatyp"_s);
        waitFor([&] { return list->topLevelItemCount() > 0; });
        open.done(u"open FMAtyp (article types)"_s, QString::number(list->topLevelItemCount()) + u" types"_s);
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            list->topLevelItem(i)->setCheckState(1, Qt::Checked);
        Action save;
        w->findChild<QPushButton *>(u"BuSpeich"_s)->click();
        waitFor([&] { return !w->isVisible(); });
        save.done(u"save FMAtyp"_s, QString::number(list->topLevelItemCount()) + u" ticks stored"_s);
        cacheapi::Unload(w);
    }

    {
        Action open;
        fmkund *w = cacheapi::form<fmkund>();
        w->show();
        ListEditorGrid *grid = w->grid();
        waitFor([&] { return grid->rowCount() > 1 && !grid->cellText(0, 0).isEmpty(); });
        QCoreApplication::processEvents();
        open.done(u"open fmkund (customer list)"_s, QString::number(grid->rowCount()) + u" rows"_s);
        QTemporaryDir dir;
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(u"kunden.pdf"_s));
        Action print;
        const int pages = w->printTo(&printer);
        print.done(u"print fmkund (to PDF)"_s, QString::number(pages) + u" pages"_s);
        Action save;
        w->findChild<QPushButton *>(u"BuSpeich"_s)->click();
        waitFor([&] { return !w->isVisible(); });
        save.done(u"save fmkund"_s, QString::number(grid->rowCount() - 1) + u" numbers"_s);
        cacheapi::Unload(w);
        cacheapi::Factory->Static(u"orvanta.wexlkunde"_s)
            ->call(u"Save"_s, {u"1"_s, u"10001|10002|10003"_s, u"orvanta.wexl"_s});
    }

    {
        Action open;
        FMKnrsu *w = cacheapi::form<FMKnrsu>();
        w->show();
        QCoreApplication::processEvents();
        open.done(u"open FMKnrsu (customer search)"_s);
        w->findChild<QLineEdit *>(u"SKBEZ"_s)->setText(u"MA"_s);
        Action search;
        w->findChild<QPushButton *>(u"BUSuch"_s)->click();
        QCoreApplication::processEvents();
        search.done(u"customer search \"MA\""_s, u"500 hits kept"_s);
        cacheapi::Unload(w);
    }
    std::fflush(stdout);
    std::_Exit(boxes.count() == 0 ? 0 : 3); // skip tearing down the windows and the connection
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString port = args.value(args.indexOf(u"--port"_s) + 1);
    QTemporaryDir settings;
    platform::setSettingsFolder(settings.path());
    const int rowsAt = args.indexOf(u"--rows"_s);
    const int listRows = rowsAt > 0 ? args.value(rowsAt + 1).toInt() : 1000;
    const int labelAt = args.indexOf(u"--label"_s);
    if (labelAt > 0)
        g_label = u' ' + args.value(labelAt + 1);
    if (args.contains(u"--startup"_s))
        return runStartup(app, port);
    if (args.contains(u"--bridge"_s)) {
        // The bridge comes up once the accessibility bus has answered.
        waitFor([] { return QAccessible::isActive(); }, 5000);
        if (!QAccessible::isActive()) {
            // Figures without the bridge would pass for figures with it.
            row(u"accessibility bridge"_s + g_label, u"skipped"_s, {}, {}, u"the bridge did not come up"_s);
            return 0;
        }
        row(u"accessibility bridge"_s + g_label, u"active"_s, {}, {}, {});
    }
    return runActions(port, listRows);
}
