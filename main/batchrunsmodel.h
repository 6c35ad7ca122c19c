#pragma once
// The run records as a table, and the filter the monitor puts in front of it.

#include "main/batchruns.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

namespace orvanta::batchruns {

class Model final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Model)
public:
    enum Column { Job, Started, Ended, Duration, StartedBy, State, Outcome, OutputFile, ColumnCount };
    static constexpr int RunRole = Qt::UserRole; // the job's name, for the filter

    explicit Model(QObject *parent = nullptr);

    // Takes the newest list: rows of runs already shown change in place, new runs are
    // inserted, vanished ones removed, so views keep their selection and current row.
    void setRuns(const QList<Run> &runs);
    const Run &run(int row) const { return m_runs.at(row); }
    bool anyActive() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<Run> m_runs; // newest first, as the server answers
};

class Filter final : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Filter)
public:
    explicit Filter(QObject *parent = nullptr);
    void setJob(const QString &job); // "" = every job
    void setFailedOnly(bool on);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_job;
    bool m_failedOnly = false;
};

// "1 min 05 s", "12 s"; "" without an end. Runs that are still going count up to now.
QString durationText(const Run &run, const QDateTime &now);

} // namespace orvanta::batchruns
