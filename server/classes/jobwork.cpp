#include "server/classes/jobwork.h"

#include "server/classes/productgroups.h"
#include "server/classes/sqlutil.h"
#include "server/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QSet>
#include <QXmlStreamWriter>

#include <cmath>

using namespace Qt::StringLiterals;

namespace server::classes::jobs {

namespace {

const QString exportHeader = u"#ORVANTA-EXPORT"_s;

QString now() { return QDateTime::currentDateTime().toString(Qt::ISODate); }
QString price(double p) { return QString::number(p, 'f', 2); }
// The export separates fields by ";" and records by line ends.
QString field(const QString &t)
{
    QString out = t;
    out.replace(u';', u',').replace(u'\n', u' ').replace(u'\r', u' ');
    return out;
}

QSet<QString> column(QSqlDatabase db, const QString &sql, const QVariantList &binds)
{
    QSet<QString> out;
    QSqlQuery q = exec(db, sql, binds);
    while (q.next())
        out.insert(text(q.value(0)));
    return out;
}

void commitFile(QSaveFile &file)
{
    if (!file.commit())
        throw factory::Error(factory::ErrorCode::Storage,
                             u"Datei "_s + file.fileName() + u" nicht geschrieben: "_s + file.errorString());
}

} // namespace

QList<Article> releasedArticles(QSqlDatabase db, const QString &firma, const QString &prefix,
                                std::optional<QDate> asOf)
{
    const QSet<QString> types =
        column(db, u"SELECT \"atyp\" FROM "_s + tables::atyp + u" WHERE \"Firma\"=?"_s, {firma});
    const QSet<QString> choice = chosenProductGroups(db, firma, QString());
    const QSet<QString> excluded = column(db, u"SELECT \"Nr\" FROM "_s + tables::webLiefNeg
                                                  + u" WHERE \"Firma\"=? AND \"praefix\"=?"_s,
                                          {firma, prefix});
    QString sql = u"SELECT \"Artnr\", \"Bez\", \"HGRP\", \"UGRP\", \"Atyp\", \"Einheit\", \"Preis\", \"Lieferant\" FROM "_s
                  + tables::artikel + u" WHERE \"Firma\"=?"_s;
    QVariantList binds{firma};
    if (asOf) {
        sql += u" AND \"GueltigAb\"<=?"_s;
        binds << asOf->toString(Qt::ISODate);
    }
    sql += u" ORDER BY \"Artnr\""_s;
    QSqlQuery q = exec(db, sql, binds);
    QList<Article> out;
    while (q.next()) {
        Article a{text(q.value(0)), q.value(1).toString(), q.value(2).toLongLong(), q.value(3).toLongLong(),
                  q.value(4).toString(), q.value(5).toString(), q.value(6).toDouble()};
        if (types.contains(a.atyp) && releasedBy(choice, a.main, a.sub) && !excluded.contains(text(q.value(7))))
            out.append(a);
    }
    return out;
}

int buildArticleBatch(QSqlDatabase db, const QString &firma, const QString &prefix)
{
    const QList<Article> articles = releasedArticles(db, firma, prefix, QDate::currentDate());
    exec(db, u"DELETE FROM "_s + tables::stapelArtikel + u" WHERE \"Firma\"=? AND \"praefix\"=?"_s, {firma, prefix});
    const QString stand = now();
    const QString insert = u"INSERT INTO "_s + tables::stapelArtikel
                           + u" (id, \"Firma\", \"praefix\", \"Artnr\", \"Bez\", \"HGRP\", \"UGRP\", \"Atyp\", \"Einheit\","
                             u" \"Preis\", \"Stand\", \"Frei\") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0)"_s;
    for (const Article &a : articles) {
        execRepeated(db, insert,
                     {joinId({firma, prefix, a.artnr}), firma, prefix, a.artnr, a.bez, a.main, a.sub, a.atyp,
                      a.einheit, a.preis, stand});
    }
    return int(articles.size());
}

ConditionCount buildConditionBatch(QSqlDatabase db, const QString &firma, const QString &prefix)
{
    struct Staged { QString artnr; qint64 main; qint64 sub; double preis; };
    QList<Staged> staged;
    QSqlQuery s = exec(db, u"SELECT \"Artnr\", \"HGRP\", \"UGRP\", \"Preis\" FROM "_s + tables::stapelArtikel
                               + u" WHERE \"Firma\"=? AND \"praefix\"=? ORDER BY \"Artnr\""_s,
                       {firma, prefix});
    while (s.next())
        staged.append({text(s.value(0)), s.value(1).toLongLong(), s.value(2).toLongLong(), s.value(3).toDouble()});

    exec(db, u"DELETE FROM "_s + tables::stapelKond + u" WHERE \"Firma\"=? AND \"praefix\"=?"_s, {firma, prefix});
    QSqlQuery c = exec(db, u"SELECT w.\"Nr\", COALESCE(g.\"Rabatt\", '0') FROM "_s + tables::webKunde + u" w JOIN "_s
                               + tables::kkr + u" k ON k.\"Firma\"=w.\"Firma\" AND k.\"Art\"='K' AND k.\"Nr\"=w.\"Nr\""_s
                               + u" LEFT JOIN "_s + tables::kundenGruppen
                               + u" g ON g.\"Firma\"=k.\"Firma\" AND g.\"KGRP\"=k.\"KGRP\""_s
                               + u" WHERE w.\"Firma\"=? AND w.\"praefix\"=? ORDER BY "_s
                               + server::sql::numberOrder(db, u"w.\"Nr\""_s),
                       {firma, prefix});
    struct Customer { QString nr; double rabatt; };
    QList<Customer> customers;
    while (c.next())
        customers.append({text(c.value(0)), c.value(1).toDouble()});

    ConditionCount count;
    const QString stand = now();
    const QString insert = u"INSERT INTO "_s + tables::stapelKond
                           + u" (id, \"Firma\", \"praefix\", \"Kunde\", \"Artnr\", \"Rabatt\", \"Preis\", \"Stand\", \"Frei\")"
                             u" VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0)"_s;
    for (const Customer &k : customers) {
        // A customer with a choice of his own sees only those groups; otherwise the general choice.
        const QSet<QString> own = chosenProductGroups(db, firma, k.nr);
        ++count.customers;
        for (const Staged &a : staged) {
            if (!own.isEmpty() && !releasedBy(own, a.main, a.sub))
                continue;
            const double net = std::round(a.preis * (100.0 - k.rabatt)) / 100.0;
            execRepeated(db, insert,
                         {joinId({firma, prefix, k.nr, a.artnr}), firma, prefix, k.nr, a.artnr, k.rabatt, net, stand});
            ++count.conditions;
        }
    }
    return count;
}

ExportCount writeExport(QSqlDatabase db, const QStringList &firmen, const QString &prefix, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw factory::Error(factory::ErrorCode::Storage, u"Datei "_s + path + u" nicht anlegbar: "_s + file.errorString());
    ExportCount count;
    QString out = exportHeader + u';' + field(prefix) + u';' + now() + u'\n';
    for (const QString &firma : firmen) {
        ++count.tenants;
        QSqlQuery a = exec(db, u"SELECT \"Artnr\", \"Bez\", \"HGRP\", \"UGRP\", \"Atyp\", \"Einheit\", \"Preis\" FROM "_s
                                   + tables::stapelArtikel + u" WHERE \"Firma\"=? AND \"praefix\"=? ORDER BY \"Artnr\""_s,
                           {firma, prefix});
        while (a.next()) {
            out += u"A;"_s + firma + u';' + field(text(a.value(0))) + u';' + field(toDisplayForm(a.value(1).toString()))
                   + u';' + text(a.value(2)) + u';' + text(a.value(3)) + u';' + field(a.value(4).toString()) + u';'
                   + field(a.value(5).toString()) + u';' + price(a.value(6).toDouble()) + u'\n';
            ++count.articles;
        }
        QSqlQuery k = exec(db, u"SELECT \"Kunde\", \"Artnr\", \"Preis\" FROM "_s + tables::stapelKond
                                   + u" WHERE \"Firma\"=? AND \"praefix\"=? ORDER BY "_s + server::sql::numberOrder(db, u"\"Kunde\""_s) + u", \"Artnr\""_s,
                           {firma, prefix});
        while (k.next()) {
            out += u"K;"_s + firma + u';' + text(k.value(0)) + u';' + field(text(k.value(1))) + u';'
                   + price(k.value(2).toDouble()) + u'\n';
            ++count.conditions;
        }
        for (const QString &table : {tables::stapelArtikel, tables::stapelKond})
            exec(db, u"UPDATE "_s + table + u" SET \"Frei\"=1 WHERE \"Firma\"=? AND \"praefix\"=?"_s, {firma, prefix});
    }
    file.write(out.toUtf8());
    commitFile(file);
    return count;
}

ExportCount importExport(QSqlDatabase db, const QString &path, const QString &fileName)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw factory::Error(factory::ErrorCode::Refused, u"Importdatei "_s + fileName + u" nicht lesbar: "_s + file.errorString());
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    if (lines.isEmpty() || !lines.first().startsWith(exportHeader))
        throw factory::Error(factory::ErrorCode::Refused, u"Importdatei "_s + fileName + u" ist keine Exportdatei"_s);

    struct Row { QChar kind; QStringList f; };
    QList<Row> rows;
    QSet<QString> firmen;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList f = line.split(u';');
        const bool article = f.first() == u"A"_s && f.size() == 9;
        const bool condition = f.first() == u"K"_s && f.size() == 5;
        if (!article && !condition)
            throw factory::Error(factory::ErrorCode::Refused,
                                 u"Importdatei "_s + fileName + u": Zeile "_s + QString::number(i + 1) + u" unlesbar"_s);
        rows.append({f.first().front(), f});
        firmen.insert(f.at(1));
    }
    // The file replaces what the gateway held for the tenants it names.
    for (const QString &firma : firmen) {
        exec(db, u"DELETE FROM "_s + tables::gwPreis + u" WHERE \"Firma\"=?"_s, {firma});
        exec(db, u"DELETE FROM "_s + tables::gwKond + u" WHERE \"Firma\"=?"_s, {firma});
    }
    ExportCount count;
    count.tenants = int(firmen.size());
    const QString stand = now();
    const QString insertPrice =
        u"INSERT INTO "_s + tables::gwPreis
        + u" (id, \"Firma\", \"Artnr\", \"Bez\", \"Einheit\", \"Preis\", \"Datei\", \"Stand\")"
          u" VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO UPDATE SET \"Firma\"=excluded.\"Firma\","
          u" \"Artnr\"=excluded.\"Artnr\", \"Bez\"=excluded.\"Bez\", \"Einheit\"=excluded.\"Einheit\","
          u" \"Preis\"=excluded.\"Preis\", \"Datei\"=excluded.\"Datei\", \"Stand\"=excluded.\"Stand\""_s;
    const QString insertCondition =
        u"INSERT INTO "_s + tables::gwKond
        + u" (id, \"Firma\", \"Kunde\", \"Artnr\", \"Preis\", \"Datei\", \"Stand\")"
          u" VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO UPDATE SET \"Firma\"=excluded.\"Firma\","
          u" \"Kunde\"=excluded.\"Kunde\", \"Artnr\"=excluded.\"Artnr\", \"Preis\"=excluded.\"Preis\","
          u" \"Datei\"=excluded.\"Datei\", \"Stand\"=excluded.\"Stand\""_s;
    for (const Row &r : rows) {
        const QStringList &f = r.f;
        if (r.kind == u'A') {
            execRepeated(db, insertPrice,
                         {joinId({f[1], f[2]}), f[1], f[2], toServerForm(f[3]), f[7], f[8].toDouble(), fileName, stand});
            ++count.articles;
        } else {
            execRepeated(db, insertCondition,
                         {joinId({f[1], f[2], f[3]}), f[1], f[2], f[3], f[4].toDouble(), fileName, stand});
            ++count.conditions;
        }
    }
    return count;
}

int writeCatalogue(QSqlDatabase db, const QString &firma, const QDate &day, const QString &path)
{
    const QString prefix = text(scalar(db, u"SELECT \"dbpraefix\" FROM "_s + tables::param + u" WHERE \"Firma\"=?"_s, {firma}));
    const QString name = toDisplayForm(
        text(scalar(db, u"SELECT \"Name\" FROM "_s + tables::firma + u" WHERE \"Firma\"=?"_s, {firma})));
    const QList<Article> articles = releasedArticles(db, firma, prefix, day);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw factory::Error(factory::ErrorCode::Storage, u"Datei "_s + path + u" nicht anlegbar: "_s + file.errorString());
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(u"BMECAT"_s);
    xml.writeAttribute(u"version"_s, u"2005"_s);
    xml.writeStartElement(u"HEADER"_s);
    xml.writeTextElement(u"GENERATOR_INFO"_s, u"Orvanta Web"_s);
    xml.writeStartElement(u"CATALOG"_s);
    xml.writeTextElement(u"LANGUAGE"_s, u"deu"_s);
    xml.writeTextElement(u"CATALOG_ID"_s, u"ORVANTA-"_s + firma);
    xml.writeTextElement(u"CATALOG_VERSION"_s, day.toString(Qt::ISODate));
    xml.writeTextElement(u"CATALOG_NAME"_s, name);
    xml.writeStartElement(u"DATETIME"_s);
    xml.writeAttribute(u"type"_s, u"generation_date"_s);
    xml.writeTextElement(u"DATE"_s, day.toString(Qt::ISODate));
    xml.writeEndElement();
    xml.writeTextElement(u"CURRENCY"_s, u"EUR"_s);
    xml.writeEndElement(); // CATALOG
    xml.writeStartElement(u"SUPPLIER"_s);
    xml.writeTextElement(u"SUPPLIER_NAME"_s, name);
    xml.writeEndElement();
    xml.writeEndElement(); // HEADER
    xml.writeStartElement(u"T_NEW_CATALOG"_s);
    for (const Article &a : articles) {
        xml.writeStartElement(u"PRODUCT"_s);
        xml.writeTextElement(u"SUPPLIER_PID"_s, a.artnr);
        xml.writeStartElement(u"PRODUCT_DETAILS"_s);
        xml.writeTextElement(u"DESCRIPTION_SHORT"_s, toDisplayForm(a.bez));
        xml.writeEndElement();
        xml.writeStartElement(u"PRODUCT_ORDER_DETAILS"_s);
        xml.writeTextElement(u"ORDER_UNIT"_s, a.einheit);
        xml.writeEndElement();
        xml.writeStartElement(u"PRODUCT_PRICE_DETAILS"_s);
        xml.writeStartElement(u"PRODUCT_PRICE"_s);
        xml.writeAttribute(u"price_type"_s, u"net_list"_s);
        xml.writeTextElement(u"PRICE_AMOUNT"_s, price(a.preis));
        xml.writeTextElement(u"PRICE_CURRENCY"_s, u"EUR"_s);
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeStartElement(u"PRODUCT_TO_CATALOGGROUP_MAP"_s);
        xml.writeTextElement(u"CATALOG_GROUP_ID"_s, productGroupNumber(a.main, a.sub));
        xml.writeEndElement();
        xml.writeEndElement(); // PRODUCT
    }
    xml.writeEndElement(); // T_NEW_CATALOG
    xml.writeEndElement(); // BMECAT
    xml.writeEndDocument();
    if (xml.hasError())
        throw factory::Error(factory::ErrorCode::Storage, u"Katalog "_s + path + u" nicht geschrieben"_s);
    commitFile(file);
    return int(articles.size());
}

} // namespace server::classes::jobs
