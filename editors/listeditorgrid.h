#pragma once
// The editable number grid of the list editors: three columns (number, search button, name),
// the middle one drawn as a button. Keeps track of its open cell editor so an edit in
// progress can be completed on demand.

#include <QPointer>
#include <QTableWidget>

class ListEditorGrid final : public QTableWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListEditorGrid)
public:
    static constexpr int NumberColumn = 0;
    static constexpr int SearchColumn = 1;
    static constexpr int NameColumn = 2;

    explicit ListEditorGrid(QWidget *parent = nullptr);

    // Commits the text of an open cell editor and closes it.
    void finishEditing();
    QString cellText(int row, int column) const;

private:
    friend class ListEditorGridDelegate;
    QPointer<QWidget> m_editor;
};
