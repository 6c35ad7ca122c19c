#pragma once
// The virtual list of a search window: supplies only the rows the view asks for, straight
// from a hit table of VareloSu, with the alternating row colours. Its row count is set by
// the search, not derived from the table (the table keeps older hits beyond it).

#include "search/VareloSu.h"

#include <QAbstractTableModel>
#include <QStringList>

class NrsuModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NrsuModel)
public:
    static constexpr int ColumnCount = 6;

    // traceSource names the row request in the trace ("FMKnrsu.KNRSULI_GetData").
    NrsuModel(const VareloSu::NrsuTable &table, QStringList headers, QString traceSource,
              QObject *parent = nullptr);

    void setHitCount(int count); // resets the view: the new rows are asked for afresh
    int hitCount() const { return m_count; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    const VareloSu::NrsuTable &m_table;
    QStringList m_headers;
    QString m_traceSource;
    int m_count = 0;
};
