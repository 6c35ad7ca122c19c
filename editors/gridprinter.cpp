#include "editors/gridprinter.h"

#include <QFontMetricsF>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTableView>

using namespace Qt::StringLiterals;

namespace {

constexpr int TextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

struct Fonts
{
    QFont title;
    QFont header;
    QFont body;
};

Fonts fonts()
{
    Fonts f;
    f.body.setPointSizeF(10);
    f.header = f.body;
    f.header.setBold(true);
    f.title.setPointSizeF(12);
    f.title.setBold(true);
    return f;
}

} // namespace

GridPrinter::GridPrinter(QList<Column> columns, QList<QStringList> rows)
    : m_columns(std::move(columns)), m_rows(std::move(rows))
{
}

GridPrinter GridPrinter::fromGrid(const QTableView *grid, const QList<int> &columns)
{
    const QAbstractItemModel *model = grid->model();
    QList<Column> cols;
    for (int c : columns)
        cols.append({model->headerData(c, Qt::Horizontal).toString(), qMax(1, grid->columnWidth(c))});
    QList<QStringList> rows;
    const int rowCount = model->rowCount();
    rows.reserve(rowCount);
    for (int r = 0; r < rowCount; ++r) {
        QStringList cells;
        bool empty = true;
        for (int c : columns) {
            cells.append(model->index(r, c).data().toString());
            empty = empty && cells.constLast().isEmpty();
        }
        if (!empty)
            rows.append(cells);
    }
    return GridPrinter(cols, rows);
}

QString GridPrinter::listTitle(const QDateTime &when)
{
    const QLocale locale = QLocale::system();
    return u"Orvanta Gewerbekunden Webschnittstelle    "_s + locale.toString(when.date(), QLocale::ShortFormat) +
           u"    "_s + locale.toString(when.time(), QLocale::ShortFormat);
}

int GridPrinter::print(QPrinter *printer) const
{
    QPainter painter;
    if (!painter.begin(printer))
        return 0;
    const Fonts f = fonts();
    const QRectF page(QPointF(0, 0), printer->pageLayout().paintRectPixels(printer->resolution()).size());
    const qreal pad = QFontMetricsF(f.body, printer).height() * 0.25;

    int totalWidth = 0;
    for (const Column &c : m_columns)
        totalWidth += c.width;
    QList<qreal> x, w;
    qreal left = 0;
    for (const Column &c : m_columns) {
        x.append(left);
        w.append(page.width() * c.width / qMax(1, totalWidth));
        left += w.constLast();
    }

    auto cellRect = [&](int column, qreal top) {
        return QRectF(x[column] + pad, top + pad, qMax<qreal>(1, w[column] - 2 * pad), 1e6);
    };
    auto lineHeight = [&](const QFont &font, const QStringList &cells) {
        painter.setFont(font);
        qreal h = QFontMetricsF(font, printer).height();
        for (int c = 0; c < cells.size() && c < m_columns.size(); ++c)
            h = qMax(h, painter.boundingRect(cellRect(c, 0), TextFlags, cells[c]).height());
        return h + 2 * pad;
    };
    auto textHeight = [&](const QFont &font, const QString &text) {
        painter.setFont(font);
        return painter.boundingRect(QRectF(0, 0, page.width(), 1e6), TextFlags, text).height();
    };

    QStringList headers;
    for (const Column &c : m_columns)
        headers.append(c.header);
    const qreal titleHeight = textHeight(f.title, m_title) + pad;
    const qreal subtitleHeight = m_subtitle.isEmpty() ? 0 : textHeight(f.body, m_subtitle) + pad;
    const qreal headerTop = titleHeight + subtitleHeight + 2 * pad;
    const qreal headerHeight = lineHeight(f.header, headers);
    const qreal footerHeight = QFontMetricsF(f.body, printer).height() + 2 * pad;
    const qreal bodyTop = headerTop + headerHeight;
    const qreal bodyBottom = page.height() - footerHeight;

    // Page breaks first, so each page can say how many there are.
    QList<qreal> heights;
    QList<int> pageStarts{0};
    qreal y = bodyTop;
    for (int r = 0; r < m_rows.size(); ++r) {
        heights.append(lineHeight(f.body, m_rows[r]));
        if (y + heights.constLast() > bodyBottom && r > pageStarts.constLast()) {
            pageStarts.append(r);
            y = bodyTop;
        }
        y += heights.constLast();
    }
    const int pages = int(pageStarts.size());

    const QPen rule(Qt::black, qMax<qreal>(1, printer->resolution() / 150.0));
    const QPen thinRule(Qt::gray, qMax<qreal>(1, printer->resolution() / 300.0));
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            printer->newPage();
        painter.setFont(f.title);
        painter.drawText(QRectF(0, 0, page.width(), titleHeight), TextFlags, m_title);
        if (!m_subtitle.isEmpty()) {
            painter.setFont(f.body);
            painter.drawText(QRectF(0, titleHeight, page.width(), subtitleHeight), TextFlags, m_subtitle);
        }
        painter.setFont(f.header);
        for (int c = 0; c < headers.size(); ++c)
            painter.drawText(cellRect(c, headerTop), TextFlags, headers[c]);
        painter.setPen(rule);
        painter.drawLine(QPointF(0, bodyTop), QPointF(page.width(), bodyTop));

        painter.setFont(f.body);
        y = bodyTop;
        const int end = p + 1 < pages ? pageStarts[p + 1] : int(m_rows.size());
        for (int r = pageStarts[p]; r < end; ++r) {
            painter.setPen(Qt::black);
            for (int c = 0; c < m_rows[r].size() && c < m_columns.size(); ++c)
                painter.drawText(cellRect(c, y), TextFlags, m_rows[r][c]);
            y += heights[r];
            painter.setPen(thinRule);
            painter.drawLine(QPointF(0, y), QPointF(page.width(), y));
        }

        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, bodyBottom + pad, page.width(), footerHeight - pad), Qt::AlignRight | Qt::AlignTop,
                         u"Seite %1 von %2"_s.arg(p + 1).arg(pages));
    }
    painter.end();
    return pages;
}

bool GridPrinter::printWithDialog(QWidget *parent) const
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    print(&printer);
    return true;
}

void GridPrinter::preview(QWidget *parent) const
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog dialog(&printer, parent);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [this](QPrinter *target) { print(target); });
    dialog.exec();
}
