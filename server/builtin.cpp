#include "server/builtin.h"

#include "server/job.h"
#include "server/runlog.h"
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
    // Runs([tenant [, limit]]): see runlog::list. Read whole: a monitor asks often for a few rows.
    c.queries.insert(u"runs"_s, [](CallContext &ctx, const QVariantList &args) {
        if (args.size() > 2)
            throw Error(Code::ArgumentCount, u"Varelo.Batch Runs erwartet höchstens 2 Argumente, nicht "_s
                                                 + QString::number(args.size()));
        const QString tenant = args.isEmpty() ? QString() : values::text(args[0]).trimmed();
        const double limit = args.size() < 2 ? 0 : values::text(args[1]).toDouble();
        auto *job = dynamic_cast<Job *>(&ctx);
        if (!job)
            throw Error(Code::Internal, u"Varelo.Batch Runs: kein Job"_s);
        return rowsFromList(11, runlog::list(job->server().store, ctx.ns(), tenant, int(std::clamp(limit, 0.0, 1e5))));
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
