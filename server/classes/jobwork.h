#pragma once
// What the batch jobs do with the stored data; each function runs inside a job's own
// transaction on the job's connection and answers what it produced.

#include <QDate>
#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace server::classes::jobs {

// Articles of the tenant that the web interface takes over (chosen article types, product
// groups of the general choice, suppliers not on the prefix's negative list), as of a day.
struct Article
{
    QString artnr;
    QString bez; // server form
    qint64 main = 0;
    qint64 sub = 0;
    QString atyp;
    QString einheit;
    double preis = 0;
};
QList<Article> releasedArticles(QSqlDatabase db, const QString &firma, const QString &prefix,
                                std::optional<QDate> asOf);

int buildArticleBatch(QSqlDatabase db, const QString &firma, const QString &prefix);
struct ConditionCount { int conditions = 0; int customers = 0; };
ConditionCount buildConditionBatch(QSqlDatabase db, const QString &firma, const QString &prefix);

struct ExportCount { int articles = 0; int conditions = 0; int tenants = 0; };
// Writes the batches of the given tenants to path and marks them released.
ExportCount writeExport(QSqlDatabase db, const QStringList &firmen, const QString &prefix, const QString &path);
// Reads an export file into the gateway tables of this namespace.
ExportCount importExport(QSqlDatabase db, const QString &path, const QString &fileName);
// Writes the catalogue of the tenant's articles valid on the day.
int writeCatalogue(QSqlDatabase db, const QString &firma, const QDate &day, const QString &path);

} // namespace server::classes::jobs
