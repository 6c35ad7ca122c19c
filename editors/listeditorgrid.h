#pragma once
// The editable number grid of the list editors: a table view on a ListEditorModel, three
// columns (number, search button, name), the middle one drawn as a button. Keeps track of
// its open cell editor so an edit in progress can be completed on demand.

#include "editors/listeditormodel.h"

#include <QPointer>
#include <QTableView>

class ListEditorGrid final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListEditorGrid)
public:
    static constexpr int NumberColumn = ListEditorModel::NumberColumn;
    static constexpr int SearchColumn = ListEditorModel::SearchColumn;
    static constexpr int NameColumn = ListEditorModel::NameColumn;

    explicit ListEditorGrid(QWidget *parent = nullptr);

    ListEditorModel *rows() const { return m_model; }
    int rowCount() const { return m_model->rowCount(); }
    QString cellText(int row, int column) const { return m_model->text(row, column); }

    void setCurrentCell(int row, int column);
    // Opens the cell's editor, as a double click does.
    void editCell(int row, int column);
    QRect cellRect(int row, int column) const;
    // Commits the text of an open cell editor and closes it.
    void finishEditing();

signals:
    void cellClicked(int row, int column);

private:
    friend class ListEditorGridDelegate;
    ListEditorModel *m_model;
    QPointer<QWidget> m_editor;
};
