// Printing a grid as text into a PDF: titles and headers on every page, clean page breaks,
// every row once, long texts kept whole.
#include "editors/gridprinter.h"
#include "tests/editors/tst_fmkund_helpers.h"

#include <QPrinter>
#include <QTableWidget>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

class tst_GridPrinter : public QObject
{
    Q_OBJECT

private slots:
    void titleCarriesDateAndTime();
    void longListBreaksIntoPagesWithHeaders();
    void gridRowsWithoutTextAreLeftOut();
    void emptyListPrintsHeaders();

private:
    int printToPdf(const GridPrinter &printer, const QString &path);
    QTemporaryDir m_dir;
};

int tst_GridPrinter::printToPdf(const GridPrinter &gridPrinter, const QString &path)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    return gridPrinter.print(&printer);
}

void tst_GridPrinter::titleCarriesDateAndTime()
{
    const QDateTime when(QDate(2026, 3, 9), QTime(7, 5));
    const QLocale locale = QLocale::system();
    QCOMPARE(GridPrinter::listTitle(when), u"Orvanta Gewerbekunden Webschnittstelle    "_s +
                                               locale.toString(when.date(), QLocale::ShortFormat) + u"    "_s +
                                               locale.toString(when.time(), QLocale::ShortFormat));
}

void tst_GridPrinter::longListBreaksIntoPagesWithHeaders()
{
    QList<QStringList> rows;
    for (int i = 1; i <= 150; ++i)
        rows << QStringList{u"N%1X"_s.arg(i, 4, 10, QChar(u'0')), u"Kunde %1"_s.arg(i)};
    // A name longer than its column wraps instead of being cut.
    rows[10][1] = u"Garten- und Landschaftsbau Müller Söhne Großhandel für Gewerbebedarf und Zubehör"
                  u" aller Art mit Niederlassungen"_s;
    GridPrinter printer({{u"Knd.-Nr"_s, 50}, {u"Name"_s, 200}}, rows);
    printer.setTitle(u"Titel der Liste"_s);
    const QString pdf = m_dir.filePath(u"long.pdf"_s);
    const int pages = printToPdf(printer, pdf);
    QVERIFY2(pages > 1, qPrintable(QString::number(pages)));

    QMap<QString, int> seen;
    for (int p = 1; p <= pages; ++p) {
        const QString text = listtests::pdfText(pdf, p);
        QVERIFY2(text.contains(u"Titel der Liste"_s), qPrintable(text));
        QVERIFY(text.contains(u"Knd.-Nr"_s));
        QVERIFY(text.contains(u"Name"_s));
        QVERIFY(text.contains(u"Seite %1 von %2"_s.arg(p).arg(pages)));
        for (const QStringList &row : std::as_const(rows))
            if (text.contains(row[0]))
                ++seen[row[0]];
    }
    QCOMPARE(listtests::pdfText(pdf, pages + 1), QString()); // no page beyond
    for (const QStringList &row : std::as_const(rows))
        QVERIFY2(seen.value(row[0]) == 1, qPrintable(row[0]));
    QVERIFY(listtests::pdfText(pdf).simplified().contains(rows[10][1]));
}

void tst_GridPrinter::gridRowsWithoutTextAreLeftOut()
{
    QTableWidget grid(3, 3);
    grid.setHorizontalHeaderLabels({u"Knd.-Nr"_s, QString(), u"Name"_s});
    grid.setColumnWidth(0, 50);
    grid.setColumnWidth(2, 200);
    grid.setItem(0, 0, new QTableWidgetItem(u"10001"_s));
    grid.setItem(0, 1, new QTableWidgetItem(u"1"_s));
    grid.setItem(0, 2, new QTableWidgetItem(u"Müller Bau GmbH"_s));
    grid.setItem(1, 1, new QTableWidgetItem(u"1"_s)); // only the button cell
    grid.setItem(2, 0, new QTableWidgetItem(u"10003"_s));
    const GridPrinter printer = GridPrinter::fromGrid(&grid, {0, 2});
    QCOMPARE(printer.rows(), (QList<QStringList>{{u"10001"_s, u"Müller Bau GmbH"_s}, {u"10003"_s, QString()}}));
}

void tst_GridPrinter::emptyListPrintsHeaders()
{
    GridPrinter printer({{u"Lief.-Nr"_s, 50}, {u"Name"_s, 200}}, {});
    printer.setTitle(u"Leer"_s);
    const QString pdf = m_dir.filePath(u"empty.pdf"_s);
    QCOMPARE(printToPdf(printer, pdf), 1);
    const QString text = listtests::pdfText(pdf);
    QVERIFY(text.contains(u"Lief.-Nr"_s));
    QVERIFY(text.contains(u"Seite 1 von 1"_s));
}

QTEST_MAIN(tst_GridPrinter)
#include "tst_gridprinter.moc"
