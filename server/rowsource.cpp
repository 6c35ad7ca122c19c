#include "server/rowsource.h"

#include "server/classdecl.h"

#include <QList>
#include <QSqlDriver>
#include <QSqlQuery>

#include <algorithm>

#include <deque>

namespace server {

namespace {

qint64 bytesOf(const QVariantList &row)
{
    qint64 bytes = qint64(sizeof(QVariantList)) + row.size() * qint64(sizeof(QVariant));
    for (const QVariant &v : row)
        if (v.typeId() == QMetaType::QString)
            bytes += textBytes(v.toString());
    return bytes;
}

class ListRows final : public RowSource
{
public:
    ListRows(int columns, QList<QVariantList> rows) : m_columns(columns), m_rows(std::move(rows))
    {
        for (const QVariantList &row : m_rows)
            m_bytes += bytesOf(row);
    }
    int columnCount() const override { return m_columns; }
    qint64 heldBytes() const override { return m_bytes; }
    bool next(QVariantList &row) override
    {
        if (m_pos >= m_rows.size())
            return false;
        row = std::move(m_rows[m_pos++]);
        return true;
    }

private:
    int m_columns;
    QList<QVariantList> m_rows;
    qsizetype m_pos = 0;
    qint64 m_bytes = 0;
};

class SqlRows;
thread_local QList<SqlRows *> t_live;

class SqlRows final : public RowSource
{
public:
    SqlRows(int columns, std::unique_ptr<QSqlQuery> query) : m_columns(columns), m_query(std::move(query))
    {
        if (m_query && m_query->isActive())
            t_live.append(this);
        else
            m_query.reset();
    }
    ~SqlRows() override { finish(); }

    int columnCount() const override { return m_columns; }
    qint64 heldBytes() const override { return m_bytes; }
    const QSqlDriver *driver() const { return m_query ? m_query->driver() : nullptr; }

    bool next(QVariantList &row) override
    {
        if (!m_query) {
            if (m_buffer.empty())
                return false;
            row = std::move(m_buffer.front());
            m_buffer.pop_front();
            return true;
        }
        if (!m_query->next()) {
            finish();
            return false;
        }
        read(row);
        return true;
    }

    void detach()
    {
        QVariantList row;
        while (m_query && m_query->next()) {
            read(row);
            m_bytes += bytesOf(row);
            m_buffer.push_back(std::move(row));
            row = {};
        }
        finish();
    }

private:
    void read(QVariantList &row) const
    {
        row.clear();
        row.reserve(m_columns);
        for (int i = 0; i < m_columns; ++i)
            row.append(m_query->value(i));
    }

    void finish()
    {
        if (!m_query)
            return;
        m_query->finish();
        m_query.reset();
        t_live.removeOne(this);
    }

    int m_columns;
    std::unique_ptr<QSqlQuery> m_query;
    std::deque<QVariantList> m_buffer;
    qint64 m_bytes = 0;
};

} // namespace

std::unique_ptr<RowSource> rowsFromList(int columns, QList<QVariantList> rows)
{
    return std::make_unique<ListRows>(columns, std::move(rows));
}

std::unique_ptr<RowSource> rowsFromSql(int columns, std::unique_ptr<QSqlQuery> query)
{
    return std::make_unique<SqlRows>(columns, std::move(query));
}

void detachSqlRowSources(const QSqlDriver *driver)
{
    const QList<SqlRows *> live = t_live;
    for (SqlRows *rows : live)
        if (rows->driver() == driver)
            rows->detach();
}

bool sqlRowSourcesLive(const QSqlDriver *driver)
{
    return std::any_of(t_live.cbegin(), t_live.cend(), [driver](const SqlRows *r) { return r->driver() == driver; });
}

} // namespace server
