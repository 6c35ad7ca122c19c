// The demo business: tenants, users, locations, server entries, groups and accounts, the
// web interface's tables; customers, suppliers and the catalogue come from their own files.

#include "server/classes/seed.h"

#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"
#include "server/sqlutil.h"

#include <QSqlError>

using namespace Qt::StringLiterals;

namespace server::classes {

namespace seed {

Inserter::Inserter(QSqlDatabase db, const QString &table, const QStringList &columns, int batchRows)
    : m_query(db), m_batch(db), m_batchRows(qMax(1, batchRows)), m_columns(columns.size())
{
    QStringList quoted;
    for (const QString &c : columns)
        quoted << (c == u"id"_s ? c : u'"' + c + u'"');
    const QString head = u"INSERT INTO "_s + table + u" ("_s + quoted.join(u", "_s) + u") VALUES "_s;
    const QString one = u'(' + QStringList(columns.size(), u"?"_s).join(u", "_s) + u')';
    if (!m_query.prepare(head + one))
        throw factory::Error(factory::ErrorCode::Storage, u"Demodaten: "_s + m_query.lastError().text());
    if (m_batchRows > 1 && !m_batch.prepare(head + QStringList(m_batchRows, one).join(u", "_s)))
        throw factory::Error(factory::ErrorCode::Storage, u"Demodaten: "_s + m_batch.lastError().text());
}

void Inserter::row(const QVariantList &values)
{
    if (m_batchRows == 1) {
        for (int i = 0; i < values.size(); ++i)
            m_query.bindValue(i, values.at(i));
        run(m_query);
        return;
    }
    m_pending.append(values);
    if (m_pending.size() < m_batchRows * m_columns)
        return;
    for (int i = 0; i < m_pending.size(); ++i)
        m_batch.bindValue(i, m_pending.at(i));
    run(m_batch);
    m_pending.clear();
}

void Inserter::finish()
{
    for (qsizetype at = 0; at + m_columns <= m_pending.size(); at += m_columns) {
        for (int i = 0; i < m_columns; ++i)
            m_query.bindValue(i, m_pending.at(at + i));
        run(m_query);
    }
    m_pending.clear();
}

void Inserter::run(QSqlQuery &query)
{
    if (!query.exec())
        throw factory::Error(factory::ErrorCode::Storage, u"Demodaten: "_s + query.lastError().text());
}

std::uint32_t Random::next()
{
    // splitmix64
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return std::uint32_t((z ^ (z >> 31)) >> 32);
}

namespace {

QString sf(const QString &display) { return toServerForm(display); }

void seedTenants(QSqlDatabase db)
{
    Inserter firma(db, tables::firma, {u"id"_s, u"Firma"_s, u"Name"_s, u"Modus"_s});
    firma.row({u"1"_s, u"1"_s, sf(u"Orvanta Handelsgesellschaft mbH"_s), u"server"_s});
    firma.row({u"2"_s, u"2"_s, sf(u"Orvanta Nord GmbH"_s), u"ftp"_s});
    firma.row({u"3"_s, u"3"_s, sf(u"Orvanta Süd KG"_s), QString()});

    Inserter param(db, tables::param, {u"id"_s, u"Firma"_s, u"dbgateway"_s, u"dbbmecat"_s, u"dbport"_s,
                                       u"fileexport"_s, u"fileimport"_s, u"liprart"_s, u"dbpraefix"_s});
    const QString gateway = u"cn_iptcp:127.0.0.1[1973]:GATEWAY"_s;
    param.row({u"1"_s, u"1"_s, gateway, gateway, u"4900"_s, u"wexl_export.txt"_s, u"wexl_export.txt"_s, u"B"_s,
               u"orvanta.wexl"_s});
}

void seedPersonnel(QSqlDatabase db)
{
    struct User { const char16_t *firma, *code, *password, *aktiv, *fajn, *name, *pnr, *abt, *dw, *bergrp, *mail; };
    const User users[] = {
        {u"1", u"ADM", u"admin", u"J", u"J", u"Anna Adler", u"1001", u"10", u"101", u"1", u"anna.adler@orvanta.de"},
        {u"1", u"MUE", u"mueller", u"J", u"N", u"Jürgen Müller", u"1002", u"20", u"201", u"2",
         u"juergen.mueller@orvanta.de"},
        {u"1", u"ALT", u"alt", u"N", u"J", u"Otto Alt", u"1003", u"20", u"202", u"2", u"otto.alt@orvanta.de"},
        {u"1", u"BÄR", u"baer", u"J", u"J", u"Björn Bär", u"1004", u"30", u"301", u"3", u"björn.bär@orvanta-lager.de"},
        {u"1", u"FUß", u"fuss", u"J", u"J", u"Gerd Fuß", u"1005", u"30", u"302", u"3", u"gerd.fuss@orvanta.de"},
        {u"2", u"ADM", u"admin2", u"J", u"J", u"Anna Adler", u"2001", u"10", u"101", u"1", u"anna.adler@orvanta-nord.de"},
    };
    Inserter edv(db, tables::persEdv, {u"id"_s, u"Firma"_s, u"Code"_s, u"Passwort"_s, u"AKTIV"_s, u"FAJN"_s,
                                       u"PNAME"_s, u"PNR"_s, u"ABTNR"_s, u"DW"_s, u"BERGRP"_s});
    Inserter basis(db, tables::persBasis, {u"id"_s, u"Firma"_s, u"PNR"_s, u"Name"_s, u"Telefon"_s, u"Fax"_s, u"EMail"_s});
    for (const User &u : users) {
        const QString firma = QString::fromUtf16(u.firma);
        const QString code = sf(QString::fromUtf16(u.code));
        const QString pnr = QString::fromUtf16(u.pnr);
        const QString dw = QString::fromUtf16(u.dw);
        edv.row({joinId({firma, code}), firma, code, QString::fromUtf16(u.password), QString::fromUtf16(u.aktiv),
                 QString::fromUtf16(u.fajn), sf(QString::fromUtf16(u.name)), pnr, QString::fromUtf16(u.abt), dw,
                 QString::fromUtf16(u.bergrp)});
        basis.row({joinId({firma, pnr}), firma, pnr, sf(QString::fromUtf16(u.name)), QString(u"089 4711-"_s + dw),
                   u"089 4711-99"_s, sf(QString::fromUtf16(u.mail))});
    }

    Inserter abt(db, tables::persAbt, {u"id"_s, u"Firma"_s, u"ABTNR"_s, u"abtbez"_s, u"HAbtNr"_s});
    abt.row({u"1||10"_s, u"1"_s, u"10"_s, u"Verwaltung"_s, u"40"_s});
    abt.row({u"1||20"_s, u"1"_s, u"20"_s, u"Verkauf"_s, u"10"_s});
    abt.row({u"1||30"_s, u"1"_s, u"30"_s, u"Lager"_s, u"10"_s});
    abt.row({u"1||40"_s, u"1"_s, u"40"_s, sf(u"Geschäftsführung"_s), u""_s});
    abt.row({u"2||10"_s, u"2"_s, u"10"_s, u"Verwaltung"_s, u""_s});
}

void seedLocations(QSqlDatabase db)
{
    Inserter standort(db, tables::standort, {u"id"_s, u"Firma"_s, u"Code"_s, u"Name"_s});
    standort.row({u"1||1"_s, u"1"_s, u"1"_s, u"Zentrale"_s});
    standort.row({u"1||2"_s, u"1"_s, u"2"_s, u"Filiale Nord"_s});
    standort.row({u"1||3"_s, u"1"_s, u"3"_s, sf(u"Lager Süd"_s)});
    standort.row({u"2||1"_s, u"2"_s, u"1"_s, u"Zentrale Nord"_s});

    Inserter platz(db, tables::arbeitsplatz, {u"id"_s, u"Name"_s, u"Firma"_s, u"Standort"_s});
    platz.row({u"ws-zentrale"_s, u"ws-zentrale"_s, u"1"_s, u"1"_s});
    platz.row({u"ws-nord"_s, u"ws-nord"_s, u"1"_s, u"2"_s});
    platz.row({u"ws-lager"_s, u"ws-lager"_s, u"1"_s, u"3"_s});

    Inserter kassa(db, tables::kassaSW, {u"id"_s, u"Name"_s, u"Firma"_s, u"FIL"_s, u"ip"_s, u"PORT"_s,
                                         u"NAMESPACE"_s, u"Type"_s, u"sys_ID"_s});
    kassa.row({0, u"Zentrale"_s, u"1"_s, u"0"_s, u"127.0.0.1"_s, u"1973"_s, u"VARELO"_s, 0, 0});
    kassa.row({1, u"Filiale Nord"_s, u"1"_s, u"2"_s, u"127.0.0.1"_s, u"1973"_s, u"VARELO"_s, 0, 1});
    kassa.row({2, u"Gateway"_s, u"1"_s, u"0"_s, u"127.0.0.1"_s, u"1973"_s, u"GATEWAY"_s, 0, 2});
}

void seedGroupsAndAccounts(QSqlDatabase db)
{
    Inserter gruppe(db, tables::kundenGruppen, {u"id"_s, u"Firma"_s, u"KGRP"_s, u"Text"_s, u"AKTIV"_s, u"Rabatt"_s});
    struct G { const char16_t *firma; int nr; const char16_t *text; const char16_t *aktiv; double rabatt; };
    const G groups[] = {{u"1", 1, u"Einzelhandel", u"J", 3},         {u"1", 2, u"Großhandel", u"J", 8},
                        {u"1", 3, u"Handwerk", u"J", 5},             {u"1", 7, u"Gastronomie", u"J", 4},
                        {u"1", 9, u"Gesperrte Kunden", u"N", 0},     {u"1", 12, u"Öffentliche Hand", u"J", 6},
                        {u"2", 1, u"Einzelhandel", u"J", 2},         {u"2", 3, u"Handwerk", u"J", 4}};
    for (const G &g : groups) {
        const QString firma = QString::fromUtf16(g.firma);
        gruppe.row({joinId({firma, QString::number(g.nr)}), firma, g.nr, sf(QString::fromUtf16(g.text)),
                    QString::fromUtf16(g.aktiv), g.rabatt});
    }

    Inserter konto(db, tables::sammelKonten, {u"id"_s, u"Firma"_s, u"Art"_s, u"Konto"_s, u"Text"_s});
    konto.row({u"1||L||1600"_s, u"1"_s, u"L"_s, 1600, u"Lieferanten Inland"_s});
    konto.row({u"1||L||1610"_s, u"1"_s, u"L"_s, 1610, u"Lieferanten Ausland"_s});
    konto.row({u"1||K||1400"_s, u"1"_s, u"K"_s, 1400, u"Forderungen aus Lieferungen"_s});
    konto.row({u"2||L||1600"_s, u"2"_s, u"L"_s, 1600, u"Lieferanten Inland"_s});
}

void seedWebInterface(QSqlDatabase db)
{
    const QString prefix = u"orvanta.wexl"_s;
    Inserter kunde(db, tables::webKunde, {u"id"_s, u"Firma"_s, u"praefix"_s, u"Nr"_s});
    for (qint64 nr : {10001, 10002, 10003})
        kunde.row({joinId({u"1"_s, prefix, QString::number(nr)}), u"1"_s, prefix, nr});
    Inserter lief(db, tables::webLiefNeg, {u"id"_s, u"Firma"_s, u"praefix"_s, u"Nr"_s});
    lief.row({joinId({u"1"_s, prefix, u"70002"_s}), u"1"_s, prefix, 70002});

    Inserter wargr(db, tables::wargr, {u"Firma"_s, u"numwarengruppe"_s, u"txtwarengruppe"_s, u"numkunde"_s});
    wargr.row({u"1"_s, u"0100"_s, u"Baustoffe"_s, u""_s});
    wargr.row({u"1"_s, u"0503"_s, u"Elektrowerkzeuge"_s, u""_s});
    wargr.row({u"1"_s, u"0200"_s, u"Holz"_s, u"10001"_s});

    Inserter atyp(db, tables::atyp, {u"Firma"_s, u"atyp"_s});
    atyp.row({u"1"_s, u"N"_s});
}

} // namespace
} // namespace seed

void seedDemoBusiness(QSqlDatabase db, const QString &ns, int scale)
{
    Q_UNUSED(ns); // every namespace gets the same business; a gateway namespace uses part of it
    const int n = qMax(1, scale);
    seed::seedTenants(db);
    seed::seedPersonnel(db);
    seed::seedLocations(db);
    seed::seedGroupsAndAccounts(db);

    // The search index is built once after the bulk insert rather than row by row.
    const QString searchIndex = u"\"vr_kkr_Firma_Art_Such_Nr\""_s;
    exec(db, u"DROP INDEX IF EXISTS "_s + searchIndex);
    seed::seedPartners(db, u"1"_s, {1000 * (n + 2), 100 * (n + 2)}, 1);
    seed::seedPartners(db, u"2"_s, {40, 30}, 2);
    exec(db, u"CREATE INDEX IF NOT EXISTS "_s + searchIndex + u" ON "_s + tables::kkr
                 + u" (\"Firma\", \"Art\", \"Such\", "_s + server::sql::numberOrder(db, u"\"Nr\""_s) + u')');

    seed::seedCatalogue(db, u"1"_s, 11);
    seed::seedCatalogue(db, u"2"_s, 12);
    seed::seedWebInterface(db);
    globals::set(db, u"FA"_s, {u"0"_s}, u"1`2026`Orvanta Handelsgesellschaft mbH"_s);
}

} // namespace server::classes
