// The customer list against a seeded server: loading, typing and searching numbers, saving,
// failures, printing.
#include "editors/fmkund.h"
#include "editors/gridprinter.h"
#include "search/FMKnrsu.h"
#include "search/VareloSu.h"
#include "tests/editors/tst_fmkund_helpers.h"
#include "tests/support/sessionfixture.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using namespace listtests;

class tst_FMKund : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadsListWithReadyRow();
    void emptyListShowsOneReadyRow();
    void typedKnownNumberGetsName();
    void typedUnknownNumberIsEmptied();
    void unknownNumberTypedLastIsEmptiedAndSaveGoesOn();
    void nameAndButtonColumnsTakeTextWithoutLookUp();
    void searchFillsTheRow();
    void cancelledSearchLeavesTheRow();
    void saveSkipsEmptyRows();
    void saveOfEmptyRowsEmptiesTheList();
    void refusedNumberKeepsWindowAndRows();
    void tenantWithoutParametersStaysUsable();
    void discardWritesNothing();
    void unloadWhileEditingIsSafe();
    void printsTitleAndEveryRow();
    void printButtonOpensPrintDialog();

private:
    void openWindow();
    QStringList stored() { return storedNumbers(m_fx->probe(), u"kunde"_s, u"getkund"_s); }
    void saveOnServer(const QString &list);
    void press(const QString &button) { m_window->findChild<QPushButton *>(button)->click(); }

    std::unique_ptr<SessionFixture> m_fx;
    fmkund *m_window = nullptr;
    ListEditorGrid *m_grid = nullptr;
    std::unique_ptr<QAbstractItemModelTester> m_modelTester;
};

void tst_FMKund::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_FMKund::cleanup()
{
    m_modelTester.reset();
    m_window = nullptr;
    m_grid = nullptr;
    m_fx.reset();
}

void tst_FMKund::openWindow()
{
    m_window = cacheapi::form<fmkund>();
    m_grid = m_window->findChild<ListEditorGrid *>(u"likund"_s);
    QVERIFY(m_grid);
    m_modelTester = std::make_unique<QAbstractItemModelTester>(
        m_grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    // The load runs on the first timer tick and always leaves at least one row.
    QTRY_VERIFY(m_grid->rowCount() > 0);
}

void tst_FMKund::saveOnServer(const QString &list)
{
    m_fx->probe().Static(u"orvanta.wexlkunde"_s)->call(u"Save"_s, {u"1"_s, list, u"orvanta.wexl"_s});
}

void tst_FMKund::loadsListWithReadyRow()
{
    m_window = cacheapi::form<fmkund>();
    auto *timer = m_window->findChild<QTimer *>(u"Timer1"_s);
    QVERIFY(timer && timer->isSingleShot() && timer->isActive());
    QCOMPARE(timer->interval(), 1);
    openWindow();
    QCOMPARE(m_window->windowTitle(), u"Varelo Orvanta Web - Kunden"_s);
    QCOMPARE(column(m_grid, 0), (QStringList{u"10001"_s, u"10002"_s, u"10003"_s, QString()}));
    QCOMPARE(column(m_grid, 1), QStringList(4, u"1"_s));
    QCOMPARE(column(m_grid, 2)[0], u"Müller Bau GmbH"_s);
    QVERIFY(!column(m_grid, 2)[1].isEmpty());
    QCOMPARE(m_grid->model()->headerData(0, Qt::Horizontal).toString(), u"Knd.-Nr"_s);
    QCOMPARE(m_grid->model()->headerData(1, Qt::Horizontal).toString(), QString());
    QCOMPARE(m_grid->model()->headerData(2, Qt::Horizontal).toString(), u"Name"_s);
    QCOMPARE(m_grid->columnWidth(0), 50);
    QCOMPARE(m_grid->columnWidth(1), 16);
    QCOMPARE(m_grid->columnWidth(2), 200);
    // The button cell's "1" says nothing to a screen reader: it is announced as the search.
    QCOMPARE(m_grid->model()->index(0, 1).data(Qt::AccessibleTextRole).toString(), u"Suchen"_s);

    auto *save = m_window->findChild<QPushButton *>(u"BuSpeich"_s);
    auto *discard = m_window->findChild<QPushButton *>(u"BUClose"_s);
    auto *preview = m_window->findChild<QPushButton *>(u"BUVorschau"_s);
    QCOMPARE(preview->text(), u"Seitenansicht"_s);
    auto *print = m_window->findChild<QPushButton *>(u"BUDruck"_s);
    QCOMPARE(nextTabStop(save), discard);
    QCOMPARE(nextTabStop(discard), preview);
    QCOMPARE(nextTabStop(preview), m_grid);
    QCOMPARE(nextTabStop(m_grid), print);
    QCOMPARE(nextTabStop(print), save);

    const QRect grid = m_grid->geometry();
    const QRect button = save->geometry();
    m_window->resize(700, 600);
    QCOMPARE(m_grid->geometry(), grid);
    QCOMPARE(save->geometry(), button);
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_FMKund::emptyListShowsOneReadyRow()
{
    saveOnServer(QString());
    openWindow();
    QCOMPARE(m_grid->rowCount(), 1);
    QCOMPARE(m_grid->cellText(0, 0), QString());
    QCOMPARE(m_grid->cellText(0, 1), u"1"_s);
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_FMKund::typedKnownNumberGetsName()
{
    openWindow();
    typeNumber(m_grid, 3, u"10001"_s);
    QTRY_COMPARE(m_grid->cellText(3, 2), u"Müller Bau GmbH"_s);
    // A new ready row below, with its button.
    QCOMPARE(m_grid->rowCount(), 5);
    QCOMPARE(m_grid->cellText(4, 0), QString());
    QCOMPARE(m_grid->cellText(4, 1), u"1"_s);
    QCOMPARE(m_fx->boxes().count(), 0);

    // Typed as the user typed it: duplicates are the user's business.
    QCOMPARE(m_window->numberList(), u"10001|10002|10003|10001"_s);
}

void tst_FMKund::typedUnknownNumberIsEmptied()
{
    openWindow();
    typeNumber(m_grid, 1, u"99999"_s);
    QTRY_COMPARE(m_fx->boxes().count(), 1);
    const platform::ShownMessage &box = m_fx->boxes().last();
    QCOMPARE(box.text, u"Kunde nicht gespeichert"_s);
    QCOMPARE(box.title, QString());
    QCOMPARE(box.icon, platform::Icon::Information);
    QCOMPARE(box.buttons, platform::Buttons::Ok);
    QCOMPARE(m_grid->cellText(1, 0), QString());
    QCOMPARE(m_grid->cellText(1, 2), QString());
    QCOMPARE(m_grid->rowCount(), 4);
    QCOMPARE(m_window->numberList(), u"10001|10003"_s);
}

void tst_FMKund::unknownNumberTypedLastIsEmptiedAndSaveGoesOn()
{
    openWindow();
    // Still in the editor when "Speichern" is pressed: checked then, emptied, and the rest saved.
    QVERIFY(typeIntoOpenEditor(m_grid, 1, u"99999"_s));
    press(u"BuSpeich"_s);
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().text, u"Kunde nicht gespeichert"_s);
    QCOMPARE(m_grid->cellText(1, 0), QString());
    QVERIFY(!m_window->isVisible());
    QCOMPARE(stored(), (QStringList{u"10001"_s, u"10003"_s}));
}

void tst_FMKund::nameAndButtonColumnsTakeTextWithoutLookUp()
{
    openWindow();
    const quint64 before = cacheapi::Factory->roundTrips();
    for (int column : {ListEditorGrid::NameColumn, ListEditorGrid::SearchColumn}) {
        QVERIFY(m_grid->model()->flags(m_grid->model()->index(0, column)) & Qt::ItemIsEditable);
        m_grid->editCell(0, column);
        QLineEdit *editor = nullptr;
        for (QLineEdit *e : m_grid->viewport()->findChildren<QLineEdit *>())
            if (e->isVisible())
                editor = e;
        QVERIFY(editor);
        editor->setText(u"Notiz"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(m_grid->cellText(0, column), u"Notiz"_s);
    }
    QTest::qWait(20);
    QCOMPARE(cacheapi::Factory->roundTrips(), before);
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(m_grid->cellText(0, 0), u"10001"_s);
    QCOMPARE(m_window->numberList(), u"10001|10002|10003"_s);
}

void tst_FMKund::searchFillsTheRow()
{
    openWindow();
    QString picked;
    whenModal<FMKnrsu>([&picked](FMKnrsu *w) {
        searchtests::search(w, u"MUELLER"_s);
        picked = VareloSu::knrsu_tab[1].nr;
        searchtests::doubleClickRow(w->findChild<QTableView *>(u"KNRSULI"_s), 0);
    });
    clickSearchCell(m_grid, 3);
    QTRY_VERIFY(!picked.isEmpty());
    QTRY_COMPARE(m_grid->cellText(3, 0), picked);
    QVERIFY(!m_grid->cellText(3, 2).isEmpty());
    QCOMPARE(m_grid->rowCount(), 5);
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_FMKund::cancelledSearchLeavesTheRow()
{
    openWindow();
    bool shown = false;
    whenModal<FMKnrsu>([&shown](FMKnrsu *w) {
        shown = true;
        w->close();
    });
    clickSearchCell(m_grid, 0);
    QTRY_VERIFY(shown);
    QTRY_VERIFY(!cacheapi::formIfLoaded<FMKnrsu>());
    QCOMPARE(m_grid->cellText(0, 0), u"10001"_s);
    QCOMPARE(m_grid->cellText(0, 2), u"Müller Bau GmbH"_s);

    // A click on a number or a name opens no search.
    QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->cellRect(0, 2).center());
    QTest::qWait(50);
    QVERIFY(!cacheapi::formIfLoaded<FMKnrsu>());
}

void tst_FMKund::saveSkipsEmptyRows()
{
    openWindow();
    typeNumber(m_grid, 1, QString()); // 10002 taken out: an empty row in between
    QTRY_COMPARE(m_grid->cellText(1, 2), QString());
    typeNumber(m_grid, 3, u"10005"_s);
    QTRY_VERIFY(!m_grid->cellText(3, 2).isEmpty());
    QCOMPARE(m_window->numberList(), u"10001|10003|10005"_s);
    press(u"BuSpeich"_s);
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(stored(), (QStringList{u"10001"_s, u"10003"_s, u"10005"_s}));
}

void tst_FMKund::saveOfEmptyRowsEmptiesTheList()
{
    openWindow();
    for (int r = 0; r < 3; ++r)
        typeNumber(m_grid, r, QString());
    QCOMPARE(m_window->numberList(), QString());
    press(u"BuSpeich"_s);
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(stored(), QStringList());
}

void tst_FMKund::refusedNumberKeepsWindowAndRows()
{
    saveOnServer(QString());
    openWindow();
    // Numbers that reached the grid unchecked, with an empty row between them.
    m_grid->rows()->setRows({{u"123"_s, u"1"_s}, {QString(), u"1"_s}, {u"456"_s, u"1"_s}});
    QCOMPARE(m_window->numberList(), u"123|456"_s);

    press(u"BuSpeich"_s);
    QCOMPARE(m_fx->boxes().count(), 1);
    const platform::ShownMessage &box = m_fx->boxes().last();
    QCOMPARE(box.title, u"Caché Zugriffsfehler"_s);
    QVERIFY2(box.text.startsWith(u"Vorgang: fmkund.BuSpeich_Click Kundenliste speichern."_s), qPrintable(box.text));
    QVERIFY2(box.text.contains(u"123"_s), qPrintable(box.text));
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_window->numberList(), u"123|456"_s);
    QCOMPARE(stored(), QStringList());
}

void tst_FMKund::tenantWithoutParametersStaysUsable()
{
    // Tenant 2 has no orvanta.param until the parameter window makes one.
    m_fx.reset();
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start(u"2"_s));
    openWindow();
    QTRY_COMPARE(m_fx->boxes().count(), 1);
    QVERIFY2(m_fx->boxes().last().text.startsWith(u"Vorgang: fmkund.Timer1_Timer Kundenliste laden."_s),
             qPrintable(m_fx->boxes().last().text));
    QCOMPARE(m_grid->rowCount(), 1);
    QCOMPARE(m_grid->cellText(0, 1), u"1"_s);

    // Nothing was read, so nothing may be replaced.
    QVERIFY(!m_window->findChild<QPushButton *>(u"BuSpeich"_s)->isEnabled());
    press(u"BUClose"_s);
    QVERIFY(!m_window->isVisible());
}

void tst_FMKund::discardWritesNothing()
{
    openWindow();
    typeNumber(m_grid, 3, u"10005"_s);
    QTRY_VERIFY(!m_grid->cellText(3, 2).isEmpty());
    press(u"BUClose"_s);
    QVERIFY(!m_window->isVisible());
    cacheapi::Unload(m_window);
    QCOMPARE(stored(), (QStringList{u"10001"_s, u"10002"_s, u"10003"_s}));
}

void tst_FMKund::unloadWhileEditingIsSafe()
{
    // Ende unloads every window, also one whose cell edits are still being committed.
    openWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    for (int r = 0; r < 3; ++r) {
        m_grid->editCell(r, 0);
        QLineEdit *editor = nullptr;
        for (QLineEdit *e : m_grid->viewport()->findChildren<QLineEdit *>())
            if (e->isVisible())
                editor = e;
        QVERIFY(editor);
        editor->clear();
        QTest::keyClick(editor, Qt::Key_Return);
    }
    cacheapi::Unload(m_window);
    QCoreApplication::processEvents();
    QVERIFY(!cacheapi::formIfLoaded<fmkund>());
    QCOMPARE(stored(), (QStringList{u"10001"_s, u"10002"_s, u"10003"_s}));
}

void tst_FMKund::printsTitleAndEveryRow()
{
    openWindow();
    QTemporaryDir dir;
    const QString pdf = dir.filePath(u"kunden.pdf"_s);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    const QDateTime before = QDateTime::currentDateTime();
    QCOMPARE(m_window->printTo(&printer), 1);
    const QDateTime after = QDateTime::currentDateTime();

    // The reader shows runs of blanks as one.
    const QString text = pdfText(pdf).simplified();
    const QString title = GridPrinter::listTitle(before);
    QVERIFY2(text.contains(title.simplified()) || text.contains(GridPrinter::listTitle(after).simplified()),
             qPrintable(text));
    QVERIFY(title.startsWith(u"Orvanta Gewerbekunden Webschnittstelle    "_s));
    QVERIFY(text.contains(u"Knd.-Nr"_s));
    for (int r = 0; r < 3; ++r) {
        QVERIFY2(text.contains(m_grid->cellText(r, 0)), qPrintable(m_grid->cellText(r, 0)));
        QVERIFY2(text.contains(m_grid->cellText(r, 2)), qPrintable(m_grid->cellText(r, 2)));
    }
}

void tst_FMKund::printButtonOpensPrintDialog()
{
    openWindow();
    bool shown = false;
    whenModal<QPrintDialog>([&shown](QPrintDialog *dialog) {
        shown = true;
        dialog->reject();
    });
    press(u"BUDruck"_s);
    QVERIFY(shown);
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_fx->boxes().count(), 0);

    // The dialog's choice of a file prints there.
    QTemporaryDir dir;
    const QString pdf = dir.filePath(u"dialog.pdf"_s);
    whenModal<QPrintDialog>([&pdf](QPrintDialog *dialog) {
        auto *printers = dialog->findChild<QComboBox *>(u"printers"_s);
        auto *file = dialog->findChild<QLineEdit *>(u"filename"_s);
        if (printers && file) {
            printers->setCurrentIndex(printers->count() - 1);
            file->setText(pdf);
        }
        dialog->accept();
    });
    press(u"BUDruck"_s);
    QTRY_VERIFY(QFile::exists(pdf));
    QVERIFY(pdfText(pdf).contains(u"Müller Bau GmbH"_s));

    bool previewed = false;
    whenModal<QPrintPreviewDialog>([&previewed](QPrintPreviewDialog *dialog) {
        previewed = true;
        dialog->reject();
    });
    press(u"BUVorschau"_s);
    QVERIFY(previewed);
}

QTEST_MAIN(tst_FMKund)
#include "tst_fmkund.moc"
