#include "editors/listeditorgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

using namespace Qt::StringLiterals;

// Draws the search column as a small button and remembers the editor it opens.
class ListEditorGridDelegate final : public QStyledItemDelegate
{
public:
    explicit ListEditorGridDelegate(ListEditorGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        m_grid->m_editor = editor;
        return editor;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (index.column() != ListEditorGrid::SearchColumn) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionButton button;
        button.rect = option.rect.adjusted(1, 1, -1, -1);
        button.text = u"…"_s;
        button.state = QStyle::State_Enabled | QStyle::State_Raised;
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_PushButton, &button, painter, widget);
    }

private:
    ListEditorGrid *m_grid;
};

ListEditorGrid::ListEditorGrid(QWidget *parent) : QTableView(parent), m_model(new ListEditorModel(this))
{
    setModel(m_model);
    setItemDelegate(new ListEditorGridDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);
    connect(this, &QAbstractItemView::clicked, this,
            [this](const QModelIndex &index) { emit cellClicked(index.row(), index.column()); });
    connect(this, &QAbstractItemView::activated, this,
            [this](const QModelIndex &index) { emit cellClicked(index.row(), index.column()); });
    verticalHeader()->hide();
    // Rows of one height: the view never measures rows it does not show.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumSectionSize(8);
}

void ListEditorGrid::finishEditing()
{
    if (state() != QAbstractItemView::EditingState || !m_editor)
        return;
    QWidget *editor = m_editor;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void ListEditorGrid::setCurrentCell(int row, int column) { setCurrentIndex(m_model->index(row, column)); }

void ListEditorGrid::editCell(int row, int column)
{
    setCurrentCell(row, column);
    edit(m_model->index(row, column));
}

QRect ListEditorGrid::cellRect(int row, int column) const { return visualRect(m_model->index(row, column)); }
