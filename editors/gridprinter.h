#pragma once
// Prints a grid as text: a title (and subtitle) and the column headers on every page, the
// rows below, broken into pages between rows, "Seite n von m" at the foot. The grid's
// texts are taken when the printer is made, so what is printed is what was shown.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class QPrinter;
class QTableView;
class QWidget;

class GridPrinter
{
public:
    struct Column
    {
        QString header;
        int width = 1; // share of the page width, relative to the other columns
    };

    GridPrinter(QList<Column> columns, QList<QStringList> rows);
    // The given columns of the grid, headers and widths as the grid has them; rows whose
    // printed cells are all empty are left out.
    static GridPrinter fromGrid(const QTableView *grid, const QList<int> &columns);

    // "Orvanta Gewerbekunden Webschnittstelle    " + short date + "    " + short time.
    static QString listTitle(const QDateTime &when);

    void setTitle(const QString &title) { m_title = title; }
    void setSubtitle(const QString &subtitle) { m_subtitle = subtitle; }
    QString title() const { return m_title; }
    const QList<QStringList> &rows() const { return m_rows; }

    // Prints on the printer as it is set up; answers the number of pages (0: not printed).
    int print(QPrinter *printer) const;
    // The print dialog first; false when the user cancelled it.
    bool printWithDialog(QWidget *parent) const;
    void preview(QWidget *parent) const;

private:
    QList<Column> m_columns;
    QList<QStringList> m_rows;
    QString m_title;
    QString m_subtitle;
};
