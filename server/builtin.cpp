#include "server/builtin.h"

#include "server/job.h"
#include "server/values.h"

#include <QSqlQuery>

using namespace Qt::StringLiterals;
using factory::Error;
namespace Code = factory::ErrorCode;

namespace server {

namespace {

void expectCount(const QVariantList &args, int count, const QString &what)
{
    if (args.size() != count)
        throw Error(Code::ArgumentCount, what + u" erwartet "_s + QString::number(count) + u" Argument(e), nicht "_s
                                             + QString::number(args.size()));
}

ClassDecl windows()
{
    ClassDecl c;
    c.name = u"VR.Windows"_s;
    c.methods.insert(u"xecute"_s, [](CallContext &ctx, const QVariantList &args) -> QVariant {
        expectCount(args, 1, u"VR.Windows.Xecute"_s);
        return ctx.xecute(values::text(args[0]));
    });
    return c;
}

ClassDecl lists()
{
    ClassDecl c;
    c.name = u"VR.XW"_s;
    // A list is read once: reading it hands its records to the result set and frees the handle.
    c.queries.insert(u"liste"_s, [](CallContext &ctx, const QVariantList &args) {
        expectCount(args, 1, u"VR.XW Liste"_s);
        const QString text = values::text(args[0]).trimmed();
        bool ok = false;
        const int handle = text.toInt(&ok);
        if (ok && handle == 0)
            return rowsFromList(1, {}); // 0 = no list
        auto *job = dynamic_cast<Job *>(&ctx);
        std::optional<QStringList> records;
        if (ok && job)
            records = job->takeList(handle);
        if (!records)
            throw Error(Code::BadHandle,
                        u"Liste "_s + text + u" ist unbekannt, schon gelesen oder gehört einem anderen Job"_s);
        QList<QVariantList> rows;
        rows.reserve(records->size());
        for (const QString &r : std::as_const(*records))
            rows.append(QVariantList{r});
        return rowsFromList(1, std::move(rows));
    });
    return c;
}

ClassDecl batchRuns()
{
    ClassDecl c;
    c.name = u"Varelo.Batch"_s;
    c.queries.insert(u"runs"_s, [](CallContext &ctx, const QVariantList &args) {
        expectCount(args, 0, u"Varelo.Batch Runs"_s);
        auto q = std::make_unique<QSqlQuery>(ctx.db());
        q->setForwardOnly(true);
        if (!q->exec(u"SELECT id, job, tenant, args, started, ended, outcome FROM batch_runs ORDER BY id DESC"_s))
            throw Error(Code::Storage, u"Laufliste nicht zu lesen"_s);
        return rowsFromSql(7, std::move(q));
    });
    return c;
}

} // namespace

void registerBuiltinClasses(ClassRegistry &registry)
{
    registry.add(windows());
    registry.add(lists());
    registry.add(batchRuns());
    // The session calls it after sign-in; nothing is left to set up on this server.
    registry.addRoutine(u"%XTT"_s, [](CallContext &) { return QString(); });
}

} // namespace server
