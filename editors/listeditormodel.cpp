#include "editors/listeditormodel.h"

using namespace Qt::StringLiterals;

ListEditorModel::ListEditorModel(QObject *parent) : QAbstractTableModel(parent) {}

// Views and the accessibility bridge ask about indexes that are invalid or gone; those are
// answered empty, without a warning.
bool ListEditorModel::isCell(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this && index.row() < m_rows.size() &&
           index.column() < Columns;
}

int ListEditorModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int ListEditorModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : Columns; }

QVariant ListEditorModel::data(const QModelIndex &index, int role) const
{
    if (!isCell(index))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_rows[index.row()][index.column()];
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        // The middle cell is drawn as a button, its "1" says nothing.
        if (index.column() == SearchColumn)
            return u"Suchen"_s;
        break;
    default:
        break;
    }
    return {};
}

bool ListEditorModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !isCell(index))
        return false;
    const QString text = value.toString();
    if (m_rows[index.row()][index.column()] == text)
        return true;
    m_rows[index.row()][index.column()] = text;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    emit cellEdited(index.row(), index.column());
    return true;
}

Qt::ItemFlags ListEditorModel::flags(const QModelIndex &index) const
{
    if (!isCell(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

QVariant ListEditorModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_headers.size())
        return m_headers[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

void ListEditorModel::setHeaders(const QStringList &headers)
{
    m_headers = headers;
    emit headerDataChanged(Qt::Horizontal, 0, Columns - 1);
}

ListEditorModel::Row ListEditorModel::toRow(const QStringList &cells)
{
    Row row;
    for (int c = 0; c < Columns && c < cells.size(); ++c)
        row[c] = cells[c];
    return row;
}

void ListEditorModel::setRows(const QList<QStringList> &rows)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(rows.size());
    for (const QStringList &cells : rows)
        m_rows.append(toRow(cells));
    endResetModel();
}

void ListEditorModel::appendRow(const QStringList &cells)
{
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(toRow(cells));
    endInsertRows();
}

QString ListEditorModel::text(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= Columns)
        return {};
    return m_rows[row][column];
}

void ListEditorModel::setText(int row, int column, const QString &text)
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= Columns || m_rows[row][column] == text)
        return;
    m_rows[row][column] = text;
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
}
