// The calls that start the web interface's batch jobs, and the tables the jobs fill.

#include "server/classes/jobs.h"

#include "server/classes/jobwork.h"
#include "server/classes/registration.h"
#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/sqlutil.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <memory>

using namespace Qt::StringLiterals;

namespace server::classes::jobs {

namespace {

// Runs go on beside each other and beside the calls. A deferred transaction that read first
// could not take the write lock later once another writer had committed, so the lock is
// taken up front; and waited for longer than a call would, since nobody sits before a run.
constexpr int RunLockWaitMsec = 10 * 60 * 1000;

// On PostgreSQL writers do not wait for each other; runs of one tenant do, on every server of
// the database, through a lock held until the run's transaction ends. The run reads what is
// committed as it goes (read committed) and waits for a user's row as long as it must.
void beginWritingPostgres(BatchContext &b)
{
    server::sql::exec(b.db, u"BEGIN ISOLATION LEVEL READ COMMITTED"_s);
    server::sql::exec(b.db, u"SET LOCAL lock_timeout = '"_s + QString::number(RunLockWaitMsec) + u"ms'"_s);
    const QVariantList key{b.ns, b.tenant};
    QSqlQuery tried = exec(b.db, u"SELECT pg_try_advisory_xact_lock(hashtext(?), hashtext(?))"_s, key);
    if (tried.next() && tried.value(0).toBool())
        return;
    b.progress(u"wartet auf einen anderen Lauf dieses Mandanten"_s);
    try {
        exec(b.db, u"SELECT pg_advisory_xact_lock(hashtext(?), hashtext(?))"_s, key);
    } catch (const factory::Error &) {
        b.db.rollback();
        throw factory::Error(factory::ErrorCode::Storage,
                             u"Ein anderer Lauf dieses Mandanten arbeitet seit 10 Minuten, Lauf abgebrochen"_s);
    }
}

// False when a transaction is open already (the caller's then holds the work).
bool beginWriting(BatchContext &b)
{
    if (server::sql::postgres(b.db)) {
        beginWritingPostgres(b);
        return true;
    }
    QDeadlineTimer deadline(RunLockWaitMsec);
    for (bool told = false;; told = true) {
        QSqlQuery q(b.db);
        if (q.exec(u"BEGIN IMMEDIATE"_s))
            return true;
        if (!server::sql::isBusy(q.lastError()))
            return false;
        if (!told)
            b.progress(u"wartet auf die Datenbank (ein anderer Job schreibt)"_s);
        // Each try already waited out the connection's busy timeout.
        if (deadline.hasExpired())
            throw factory::Error(factory::ErrorCode::Storage,
                                 u"Datenbank seit 10 Minuten belegt (ein anderer Job schreibt), Lauf abgebrochen"_s);
    }
}

// A job's writes are all or nothing, like a call's.
QString inTransaction(BatchContext &b, const std::function<QString()> &work)
{
    const bool own = beginWriting(b);
    try {
        QString outcome = work();
        if (own && !b.db.commit())
            throw factory::Error(factory::ErrorCode::Transaction, u"Abschluss der Transaktion fehlgeschlagen"_s);
        return outcome;
    } catch (...) {
        if (own)
            b.db.rollback();
        throw;
    }
}

QString outputPath(BatchContext &b, const QString &relative)
{
    const QString path = QDir(b.outputDir).filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

// A release leaves a marker beside its export file from its call on until its run is over:
// the client starts the gateway's import right after the release, and the import must take
// the new file, not the old one or none. A marker older than the wait is a crashed run's.
constexpr int ReleaseWaitMsec = 10 * 60 * 1000;
QString releaseMarker(const QString &exportPath) { return exportPath + u".laeuft"_s; }

void waitForRelease(BatchContext &b, const QString &exportPath)
{
    const QFileInfo marker(releaseMarker(exportPath));
    bool told = false;
    for (;;) {
        QFileInfo now(marker.filePath());
        if (!now.exists() || now.lastModified().msecsTo(QDateTime::currentDateTime()) > ReleaseWaitMsec)
            return;
        if (!told) {
            b.progress(u"wartet auf die Freischaltung von "_s + now.completeBaseName());
            told = true;
        }
        QThread::msleep(100);
    }
}

QString requireTenant(CallContext &ctx, const QString &firma, const QString &what)
{
    if (!tenantExists(ctx.db(), firma))
        refuse(what + u": Firma '"_s + firma + u"' ist kein Mandant"_s);
    return firma;
}

// Dates arrive as a date, as text (ISO or German) or as a day number of the server ($H).
std::optional<QDate> parseDay(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate();
    case QMetaType::QDateTime:
        return v.toDateTime().date();
    case QMetaType::Int: case QMetaType::LongLong: case QMetaType::Double: case QMetaType::UInt:
    case QMetaType::ULongLong: {
        const double n = v.toDouble();
        if (n < 1 || n > 200000)
            return std::nullopt;
        return QDate(1840, 12, 31).addDays(qint64(n));
    }
    default:
        break;
    }
    // A time after the day ("2026-03-01T00:00:00", "01.03.2026 00:00") is ignored.
    const QString t = text(v).trimmed().section(u'T', 0, 0).section(u' ', 0, 0);
    for (const QString &format : {u"yyyy-MM-dd"_s, u"dd.MM.yyyy"_s, u"d.M.yyyy"_s}) {
        if (const QDate d = QDate::fromString(t, format); d.isValid())
            return d;
    }
    if (const auto n = parseNumber(t); n && *n >= 1 && *n <= 200000)
        return QDate(1840, 12, 31).addDays(*n);
    return std::nullopt;
}

QString tenantPrefix(QSqlDatabase db, const QString &firma)
{
    return text(scalar(db, u"SELECT \"dbpraefix\" FROM "_s + tables::param + u" WHERE \"Firma\"=?"_s, {firma}));
}

void writeMail(BatchContext &b, const QString &firma, const QString &subject, const QString &body)
{
    QSaveFile mail(outputPath(b, u"mail/ftpaufbau-"_s + firma + u'-'
                                     + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmsszzz"_s) + u".txt"_s));
    if (mail.open(QIODevice::WriteOnly)) {
        mail.write((u"Betreff: "_s + subject + u"\n\n"_s + body + u'\n').toUtf8());
        mail.commit();
    }
}

// ftpaufbau() for the job's tenant (its FIRMA): answers 1 when started, 0 when the tenant has
// nothing to send with (no tenant, no parameters, no prefix or no export file name).
QVariant ftpaufbau(CallContext &ctx, const QVariantList &args)
{
    expectArgs(args, 0, 0, u"orvanta.param ftpaufbau"_s);
    const QString firma = jobTenant(ctx);
    if (!tenantExists(ctx.db(), firma))
        return 0;
    QSqlQuery q = exec(ctx.db(), u"SELECT \"dbpraefix\", \"fileexport\" FROM "_s + tables::param + u" WHERE \"Firma\"=?"_s,
                       {firma});
    if (!q.next())
        return 0;
    const QString prefix = text(q.value(0));
    const QString fileName = text(q.value(1));
    if (prefix.isEmpty() || fileName.isEmpty() || fileName.contains(u'/') || fileName.contains(u'\\')
        || fileName.contains(u".."_s) || fileName.contains(u':'))
        return 0;
    ctx.startBatch(u"ftpaufbau"_s, firma, {}, [firma, prefix, fileName](BatchContext &b) -> QString {
        const QString target = u"ftp/"_s + firma + u'/' + fileName;
        try {
            const QString outcome = inTransaction(b, [&]() -> QString {
                const int articles = buildArticleBatch(b.db, firma, prefix);
                const ConditionCount conds = buildConditionBatch(b.db, firma, prefix);
                b.progress(QString::number(articles) + u" Artikel, "_s + QString::number(conds.conditions)
                           + u" Konditionen aufgebaut"_s);
                writeExport(b.db, {firma}, prefix, outputPath(b, target));
                b.outputFile = target;
                return QString::number(articles) + u" Artikel und "_s + QString::number(conds.conditions)
                       + u" Konditionen nach "_s + target + u" übertragen"_s;
            });
            writeMail(b, firma, u"ftp-Aufbau/Übertragung Firma "_s + firma, u"Aufbau abgeschlossen: "_s + outcome);
            return outcome;
        } catch (const factory::Error &e) {
            writeMail(b, firma, u"ftp-Aufbau/Übertragung Firma "_s + firma + u" fehlgeschlagen"_s, e.description());
            throw;
        }
    });
    return 1;
}

// genkond(tenant, prefix): conditions of the tenant's listed customers for its staged articles.
QVariant genkond(CallContext &ctx, const QVariantList &args)
{
    expectArgs(args, 1, 2, u"orvanta.kond genkond"_s);
    const QString firma = requireTenant(ctx, arg(args, 0).trimmed(), u"orvanta.kond genkond"_s);
    QString prefix = arg(args, 1).trimmed();
    if (prefix.isEmpty())
        prefix = tenantPrefix(ctx.db(), firma);
    if (prefix.isEmpty())
        refuse(u"orvanta.kond genkond: Firma '"_s + firma + u"' hat kein Datenbank-Präfix"_s);
    ctx.startBatch(u"genkond"_s, firma, args, [firma, prefix](BatchContext &b) -> QString {
        return inTransaction(b, [&]() -> QString {
            const ConditionCount c = buildConditionBatch(b.db, firma, prefix);
            return QString::number(c.conditions) + u" Konditionen für "_s + QString::number(c.customers)
                   + u" Kunden aufgebaut"_s;
        });
    });
    return 1;
}

// bmecat(date): the catalogue of the job's tenant as of that day.
QVariant bmecat(CallContext &ctx, const QVariantList &args)
{
    expectArgs(args, 1, 1, u"orvanta.gateway bmecat"_s);
    const QString firma = requireTenant(ctx, jobTenant(ctx), u"orvanta.gateway bmecat"_s);
    const auto day = parseDay(args.at(0));
    if (!day)
        refuse(u"orvanta.gateway bmecat: '"_s + arg(args, 0) + u"' ist kein Datum"_s);
    const QString fileName = u"bmecat_"_s + firma + u'_' + day->toString(u"yyyyMMdd"_s) + u".xml"_s;
    ctx.startBatch(u"bmecat"_s, firma, {day->toString(Qt::ISODate)}, [firma, day = *day, fileName](BatchContext &b) -> QString {
        return inTransaction(b, [&]() -> QString {
            const int n = writeCatalogue(b.db, firma, day, outputPath(b, fileName));
            b.outputFile = fileName;
            return QString::number(n) + u" Artikel in "_s + fileName;
        });
    });
    return 1;
}

// import(file): reads an export file from the output folder into this namespace.
QVariant gatewayImport(CallContext &ctx, const QVariantList &args)
{
    expectArgs(args, 1, 1, u"orvanta.gateway import"_s);
    const QString fileName = plainFileName(arg(args, 0), u"orvanta.gateway import"_s);
    ctx.startBatch(u"import"_s, jobTenant(ctx), args, [fileName](BatchContext &b) -> QString {
        const QString path = QDir(b.outputDir).filePath(fileName);
        waitForRelease(b, path);
        return inTransaction(b, [&]() -> QString {
            const ExportCount c = importExport(b.db, path, fileName);
            return QString::number(c.articles) + u" Preise und "_s + QString::number(c.conditions)
                   + u" Konditionen aus "_s + fileName + u" übernommen"_s;
        });
    });
    return 1;
}

ClassDecl table(const QString &name, const QString &tableName, const QStringList &properties,
                const QStringList &idProperties)
{
    ClassDecl c;
    c.name = name;
    c.table = tableName;
    c.properties = plainProperties(properties);
    for (PropertyDecl &p : c.properties) {
        if (p.name == u"Bez"_s)
            p = shown(p.name);
    }
    c.idProperties = idProperties;
    return c;
}

} // namespace

QString plainFileName(const QString &name, const QString &what)
{
    if (name.trimmed().isEmpty() || name.contains(u'/') || name.contains(u'\\') || name.contains(u".."_s)
        || name.contains(u':'))
        refuse(what + u": '"_s + name + u"' ist kein einfacher Dateiname"_s);
    return name;
}

QVariant startGenArtikel(CallContext &ctx, const QString &prefix, const QVariantList &args)
{
    expectArgs(args, 1, 2, prefix + u"artikel genartikel"_s);
    const QString firma = requireTenant(ctx, arg(args, 0).trimmed(), prefix + u"artikel genartikel"_s);
    ctx.startBatch(u"genartikel"_s, firma, args, [firma, prefix](BatchContext &b) -> QString {
        return inTransaction(b, [&]() -> QString {
            return QString::number(buildArticleBatch(b.db, firma, prefix)) + u" Artikel in den Stapel übernommen"_s;
        });
    });
    return 1;
}

QVariant startFreischalten(CallContext &ctx, const QString &prefix, const QVariantList &args)
{
    expectArgs(args, 1, 1, prefix + u"artikel freischalten"_s);
    const QString fileName = plainFileName(arg(args, 0), prefix + u"artikel freischalten"_s);
    // The marker goes with the run: removed once the run is over, or dropped unrun.
    const QString marker = releaseMarker(QDir(ctx.outputDir()).filePath(fileName));
    QDir().mkpath(ctx.outputDir());
    QFile(marker).open(QIODevice::WriteOnly);
    auto removeMarker = std::shared_ptr<void>(nullptr, [marker](void *) { QFile::remove(marker); });
    ctx.startBatch(u"freischalten"_s, jobTenant(ctx), args, [prefix, fileName, removeMarker](BatchContext &b) -> QString {
        return inTransaction(b, [&]() -> QString {
            QStringList firmen;
            QSqlQuery q = exec(b.db, u"SELECT \"Firma\" FROM "_s + tables::param
                                         + u" WHERE \"dbpraefix\"=? ORDER BY "_s + server::sql::textNumberOrder(b.db, u"\"Firma\""_s),
                               {prefix});
            while (q.next())
                firmen << text(q.value(0));
            const ExportCount c = writeExport(b.db, firmen, prefix, outputPath(b, fileName));
            b.outputFile = fileName;
            return QString::number(c.articles) + u" Artikel und "_s + QString::number(c.conditions)
                   + u" Konditionen von "_s + QString::number(c.tenants) + u" Mandanten nach "_s + fileName
                   + u" freigeschaltet"_s;
        });
    });
    return 1;
}

} // namespace server::classes::jobs

namespace server::classes {

void registerJobs(ClassRegistry &registry)
{
    registry.extend(u"orvanta.param"_s, [](ClassDecl &c) { c.methods.insert(u"ftpaufbau"_s, jobs::ftpaufbau); });

    ClassDecl kond;
    kond.name = u"orvanta.kond"_s;
    kond.methods.insert(u"genkond"_s, jobs::genkond);
    registry.add(kond);

    ClassDecl gateway;
    gateway.name = u"orvanta.gateway"_s;
    gateway.methods.insert(u"bmecat"_s, jobs::bmecat);
    gateway.methods.insert(u"import"_s, jobs::gatewayImport);
    registry.add(gateway);

    registry.add(jobs::table(u"orvanta.stapelartikel"_s, tables::stapelArtikel,
                             {u"Firma"_s, u"praefix"_s, u"Artnr"_s, u"Bez"_s, u"HGRP"_s, u"UGRP"_s, u"Atyp"_s,
                              u"Einheit"_s, u"Preis"_s, u"Stand"_s, u"Frei"_s},
                             {u"Firma"_s, u"praefix"_s, u"Artnr"_s}));
    registry.add(jobs::table(u"orvanta.stapelkond"_s, tables::stapelKond,
                             {u"Firma"_s, u"praefix"_s, u"Kunde"_s, u"Artnr"_s, u"Rabatt"_s, u"Preis"_s, u"Stand"_s,
                              u"Frei"_s},
                             {u"Firma"_s, u"praefix"_s, u"Kunde"_s, u"Artnr"_s}));
    registry.add(jobs::table(u"orvanta.gwpreis"_s, tables::gwPreis,
                             {u"Firma"_s, u"Artnr"_s, u"Bez"_s, u"Einheit"_s, u"Preis"_s, u"Datei"_s, u"Stand"_s},
                             {u"Firma"_s, u"Artnr"_s}));
    registry.add(jobs::table(u"orvanta.gwkond"_s, tables::gwKond,
                             {u"Firma"_s, u"Kunde"_s, u"Artnr"_s, u"Preis"_s, u"Datei"_s, u"Stand"_s},
                             {u"Firma"_s, u"Kunde"_s, u"Artnr"_s}));
}

} // namespace server::classes
