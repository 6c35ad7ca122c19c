#pragma once
// The demo business of docs/demo-data.md. Deterministic: the same scale gives the same data.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>

namespace server::classes {

void seedDemoBusiness(QSqlDatabase db, const QString &ns, int scale);

namespace seed {

// One prepared INSERT, executed once a row with bound values.
class Inserter
{
public:
    // With batchRows > 1, rows go in by statements of that many rows each (a round trip a
    // statement on PostgreSQL), and finish() writes the rest.
    Inserter(QSqlDatabase db, const QString &table, const QStringList &columns, int batchRows = 1);
    void row(const QVariantList &values); // in the order of the columns
    void finish();

private:
    void run(QSqlQuery &query);
    QSqlQuery m_query;
    QSqlQuery m_batch; // batchRows rows at once
    int m_batchRows;
    qsizetype m_columns;
    QVariantList m_pending; // rows not written yet, one after the other
};

// A small deterministic generator (the same numbers on every platform and library).
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint32_t next();
    int below(int n) { return int(next() % std::uint32_t(n)); }
    template<typename T, std::size_t N>
    const T &pick(const T (&items)[N]) { return items[below(int(N))]; }

private:
    std::uint64_t m_state;
};

// Customers and suppliers of a tenant.
struct PartnerCounts { int customers; int suppliers; };
void seedPartners(QSqlDatabase db, const QString &firma, PartnerCounts counts, std::uint64_t randomSeed);
// Product groups, article types and articles of a tenant ("1" full, "2" a few).
void seedCatalogue(QSqlDatabase db, const QString &firma, std::uint64_t randomSeed);

} // namespace seed
} // namespace server::classes
