#include "search/nrsumodel.h"

#include "session/cacheapi.h"

#include <QColor>

using namespace Qt::StringLiterals;

namespace {
const QColor PaleYellow(255, 255, 180);
const QColor White(255, 255, 255);
} // namespace

NrsuModel::NrsuModel(const VareloSu::NrsuTable &table, QStringList headers, QString traceSource,
                     QObject *parent)
    : QAbstractTableModel(parent), m_table(table), m_headers(std::move(headers)),
      m_traceSource(std::move(traceSource))
{
}

void NrsuModel::setHitCount(int count)
{
    beginResetModel();
    m_count = qBound(0, count, VareloSu::MaxHits);
    endResetModel();
}

int NrsuModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_count; }

int NrsuModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant NrsuModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    // The list counts its rows from 1, as the table does.
    const int n = index.row() + 1;
    if (role == Qt::BackgroundRole)
        return n % 2 == 1 ? PaleYellow : White;
    if (role != Qt::DisplayRole)
        return {};
    // One row request per row the view draws: traced once, at its first column.
    const bool traced = index.column() == 0;
    if (traced)
        cacheapi::Trace(m_traceSource, u"Start"_s, {}, 40);
    const VareloSu::nrsu_satz &hit = m_table[std::size_t(n)];
    QString text;
    switch (index.column()) {
    case 0: text = hit.nr; break;
    case 1: text = hit.kbez; break;
    case 2: text = hit.name; break;
    case 3: text = hit.plz; break;
    case 4: text = hit.strasse; break;
    default: break; // the sixth column only takes the row colour
    }
    if (traced)
        cacheapi::Trace(m_traceSource, u"Ende"_s, {}, 40);
    return text;
}

QVariant NrsuModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section < m_headers.size() ? m_headers[section] : QString();
}

Qt::ItemFlags NrsuModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
