#include "main/batchrunsmodel.h"

#include <QColor>
#include <QIcon>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QSet>

using namespace Qt::StringLiterals;

namespace orvanta::batchruns {

namespace {
QString timeText(const QDateTime &t) { return t.isValid() ? t.toString(u"dd.MM.yyyy HH:mm:ss"_s) : QString(); }

QIcon mark(const QString &state)
{
    static QHash<QString, QIcon> icons;
    auto it = icons.find(state);
    if (it != icons.end())
        return *it;
    QColor color(0x9e, 0x9e, 0x9e); // waiting, or a state this program does not know
    if (state == Running)
        color = QColor(0x1e, 0x88, 0xe5);
    else if (state == Done)
        color = QColor(0x43, 0xa0, 0x47);
    else if (state == Failed)
        color = QColor(0xe5, 0x39, 0x35);
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(color.darker(130));
    painter.setBrush(color);
    painter.drawEllipse(1, 1, 10, 10);
    painter.end();
    return *icons.insert(state, QIcon(pixmap));
}
} // namespace

QString durationText(const Run &run, const QDateTime &now)
{
    if (!run.started.isValid())
        return {};
    const QDateTime end = run.ended.isValid() ? run.ended : run.active() ? now : QDateTime();
    if (!end.isValid())
        return {};
    const qint64 s = std::max<qint64>(0, run.started.secsTo(end));
    if (s < 60)
        return QString::number(s) + u" s"_s;
    const QString ss = u"%1"_s.arg(s % 60, 2, 10, u'0');
    if (s < 3600)
        return QString::number(s / 60) + u':' + ss + u" min"_s;
    return QString::number(s / 3600) + u':' + u"%1"_s.arg(s / 60 % 60, 2, 10, u'0') + u':' + ss + u" h"_s;
}

Model::Model(QObject *parent) : QAbstractTableModel(parent) {}

void Model::setRuns(const QList<Run> &runs)
{
    QSet<qint64> fresh;
    for (const Run &r : runs)
        fresh.insert(r.id);
    for (int row = int(m_runs.size()) - 1; row >= 0; --row) {
        if (fresh.contains(m_runs.at(row).id))
            continue;
        beginRemoveRows({}, row, row);
        m_runs.removeAt(row);
        endRemoveRows();
    }
    // Both lists are newest first, and what is left here is part of the fresh one.
    for (int row = 0; row < int(runs.size()); ++row) {
        const Run &r = runs.at(row);
        if (row < int(m_runs.size()) && m_runs.at(row).id == r.id) {
            const bool changed = !(m_runs.at(row) == r);
            if (changed)
                m_runs[row] = r;
            if (changed || r.active())
                emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
            continue;
        }
        beginInsertRows({}, row, row);
        m_runs.insert(row, r);
        endInsertRows();
    }
}

bool Model::anyActive() const
{
    return std::any_of(m_runs.begin(), m_runs.end(), [](const Run &r) { return r.active(); });
}

int Model::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_runs.size()); }

int Model::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant Model::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Run &r = m_runs.at(index.row());
    if (role == RunRole)
        return r.job;
    if (role == Qt::DecorationRole && index.column() == State)
        return mark(r.state);
    if (role == Qt::ToolTipRole && index.column() == Outcome)
        return r.outcome;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Job: return jobCaption(r.job);
    case Started: return timeText(r.started);
    case Ended: return timeText(r.ended);
    case Duration: return durationText(r, QDateTime::currentDateTime());
    case StartedBy: return r.startedBy;
    case State: return r.state;
    case Outcome: return r.outcome;
    case OutputFile: return r.outputFile;
    default: return {};
    }
}

QVariant Model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList captions{u"Job"_s,    u"Gestartet"_s, u"Beendet"_s,  u"Dauer"_s,
                                      u"Gestartet von"_s, u"Status"_s, u"Ergebnis"_s, u"Datei"_s};
    return captions.value(section);
}

Filter::Filter(QObject *parent) : QSortFilterProxyModel(parent) {}

void Filter::setJob(const QString &job)
{
    m_job = job;
    invalidateFilter();
}

void Filter::setFailedOnly(bool on)
{
    m_failedOnly = on;
    invalidateFilter();
}

bool Filter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const auto *runs = static_cast<const Model *>(sourceModel());
    if (sourceParent.isValid() || !runs)
        return false;
    const Run &r = runs->run(sourceRow);
    return (m_job.isEmpty() || r.job == m_job) && (!m_failedOnly || r.state == Failed);
}

} // namespace orvanta::batchruns
