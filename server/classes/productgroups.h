#pragma once
// Product-group numbers as the web interface stores them, shared by orvanta.wargr and the jobs.

#include <QSet>
#include <QSqlDatabase>
#include <QString>

namespace server::classes {

// Main group "00" then subgroup "00": 5/3 -> "0503", 12/0 -> "1200"; 100 or more keeps its digits.
QString productGroupNumber(qint64 main, qint64 sub);
// The customer's stored choice ("" = the general choice) as product-group numbers.
QSet<QString> chosenProductGroups(QSqlDatabase db, const QString &firma, const QString &kunde);
// Whether a product group is released by a choice: chosen itself, or its main group is.
bool releasedBy(const QSet<QString> &choice, qint64 main, qint64 sub);
// "" stays "", a number becomes its plain decimal text; anything else is returned unchanged.
QString canonicalCustomer(const QString &kunde);

} // namespace server::classes
