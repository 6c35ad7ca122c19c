#pragma once
// The rows of a list editor's grid: three texts a row (number, search button, name). The
// window fills and changes it through text/setText/setRows; only an edit made through the
// view (setData) is reported as cellEdited, so the window's own changes never look like
// the user's.

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

#include <array>

class ListEditorModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListEditorModel)
public:
    static constexpr int NumberColumn = 0;
    static constexpr int SearchColumn = 1;
    static constexpr int NameColumn = 2;
    static constexpr int Columns = 3;

    explicit ListEditorModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setHeaders(const QStringList &headers);
    // Replaces all rows at once; missing cells are empty.
    void setRows(const QList<QStringList> &rows);
    void appendRow(const QStringList &cells);
    QString text(int row, int column) const;
    void setText(int row, int column, const QString &text);

signals:
    void cellEdited(int row, int column);

private:
    using Row = std::array<QString, Columns>;
    static Row toRow(const QStringList &cells);
    bool isCell(const QModelIndex &index) const;

    QList<Row> m_rows;
    QStringList m_headers;
};
