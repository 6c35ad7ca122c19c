#pragma once
// The server's batch run records as the monitor shows them (Varelo.Batch query "Runs").

#include <QDateTime>
#include <QList>
#include <QString>

namespace factory { class Factory; }

namespace orvanta::batchruns {

// States as the server records them.
inline const QString Waiting = QStringLiteral("wartet");
inline const QString Running = QStringLiteral("läuft");
inline const QString Done = QStringLiteral("fertig");
inline const QString Failed = QStringLiteral("Fehler");

struct Run
{
    qint64 id = 0;
    QString job, tenant, args;
    QDateTime started, ended;
    QString outcome, state, startedBy, outputFile;

    bool active() const { return state == Waiting || state == Running; }
    bool operator==(const Run &) const = default;
};

// The newest runs of the tenant (and those no tenant owns), newest first: one round trip.
// Throws factory::Error.
QList<Run> read(factory::Factory &on, const QString &tenant, int limit);

// A job as the user knows it: the caption of the button that starts it (the buttons take it
// from here, so the monitor and the main window never disagree).
QString jobCaption(const QString &job);
QStringList knownJobs(); // in the order of the buttons

} // namespace orvanta::batchruns
