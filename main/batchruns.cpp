#include "main/batchruns.h"

#include "factory/factory.h"

using namespace Qt::StringLiterals;

namespace orvanta::batchruns {

namespace {
QDateTime timeOf(const QVariant &v)
{
    return QDateTime::fromString(factory::toText(v), u"yyyy-MM-dd HH:mm:ss"_s);
}

struct Job
{
    QString name, caption;
};
const QList<Job> &jobs()
{
    static const QList<Job> list{
        {u"genartikel"_s, u"Stapelaufbau Artikel"_s},
        {u"genkond"_s, u"Stapelaufbau Konditionen"_s},
        {u"freischalten"_s, u"Freischalten Preise/Konditionen ( für alle Mandanten )"_s},
        {u"import"_s, u"Gateway-Import"_s},
        {u"ftpaufbau"_s, u"Aufbau und ftp-Versand Dateien"_s},
        {u"bmecat"_s, u"Aufbau für BMECAT"_s},
    };
    return list;
}
} // namespace

QList<Run> read(factory::Factory &on, const QString &tenant, int limit)
{
    factory::ResultSetPtr rs = on.ResultSet(u"Varelo.Batch"_s, u"Runs"_s);
    rs->Execute({tenant, limit});
    QList<Run> runs;
    while (rs->Next()) {
        Run r;
        r.id = factory::toText(rs->GetData(1)).toLongLong();
        r.job = factory::toText(rs->GetData(2));
        r.tenant = factory::toText(rs->GetData(3));
        r.args = factory::toText(rs->GetData(4));
        r.started = timeOf(rs->GetData(5));
        r.ended = timeOf(rs->GetData(6));
        r.outcome = factory::toText(rs->GetData(7));
        r.state = factory::toText(rs->GetData(8));
        r.startedBy = factory::toText(rs->GetData(9));
        r.outputFile = factory::toText(rs->GetData(10));
        runs.append(r);
    }
    rs->Close();
    return runs;
}

QString jobCaption(const QString &job)
{
    for (const Job &j : jobs())
        if (j.name == job)
            return j.caption;
    return job;
}

QStringList knownJobs()
{
    QStringList names;
    for (const Job &j : jobs())
        names << j.name;
    return names;
}

} // namespace orvanta::batchruns
