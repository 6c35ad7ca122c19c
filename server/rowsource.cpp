#include "server/rowsource.h"

#include "server/classdecl.h"
#include "server/sqlutil.h"
#include "server/values.h"
#include "factory/cbor.h"

#include <QList>
#include <QSqlDriver>
#include <QSqlQuery>

#include <algorithm>

#include <sqlite3.h>

#include <deque>

using namespace Qt::StringLiterals;

namespace server {

// Rough size of a row on the wire, to cut batches at about 1 MiB.
qsizetype RowSource::writeNext(wire::CborWriter &out)
{
    thread_local QVariantList row;
    if (!next(row))
        return -1;
    qsizetype bytes = 2;
    out.array(quint64(row.size()));
    for (const QVariant &v : std::as_const(row)) {
        bytes += v.typeId() == QMetaType::QString ? v.toString().size() + 3 : 9;
        values::writeCbor(out, v);
    }
    return bytes;
}

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

// A source that streams from a connection and can be read into memory when the connection
// is needed for something else.
class StreamingRows : public RowSource
{
public:
    virtual const QSqlDriver *driver() const = 0;
    virtual void detach() = 0;
};
thread_local QList<StreamingRows *> t_live;

class SqlRows final : public StreamingRows
{
public:
    SqlRows(int columns, std::unique_ptr<QSqlQuery> query) : m_columns(columns), m_query(std::move(query))
    {
        if (m_query && m_query->isActive()) {
            t_live.append(this);
            m_stmt = sql::sqliteStatement(*m_query);
        } else {
            m_query.reset();
        }
    }
    ~SqlRows() override { finish(); }

    int columnCount() const override { return m_columns; }
    qint64 heldBytes() const override { return m_bytes; }
    const QSqlDriver *driver() const override { return m_query ? m_query->driver() : nullptr; }

    bool next(QVariantList &row) override
    {
        if (!m_query) {
            if (m_buffer.empty())
                return false;
            row = std::move(m_buffer.front());
            m_buffer.pop_front();
            m_bytes -= bytesOf(row); // handed out: no longer held here
            return true;
        }
        if (!advance()) {
            finish();
            return false;
        }
        read(row);
        return true;
    }

    // Past the first row, SQLite's cells go onto the wire as they are (text as the UTF-8 it
    // keeps), with no QVariant or QString between.
    qsizetype writeNext(wire::CborWriter &out) override
    {
        if (!m_query || !m_stmt || !m_started)
            return RowSource::writeNext(out);
        if (!advance()) {
            finish();
            return -1;
        }
        qsizetype bytes = 2;
        out.array(quint64(m_columns));
        const int have = sqlite3_column_count(m_stmt);
        for (int i = 0; i < m_columns; ++i) {
            if (i >= have) {
                out.null();
                bytes += 9;
                continue;
            }
            bytes += sqlite3_column_type(m_stmt, i) == SQLITE_TEXT ? sqlite3_column_bytes(m_stmt, i) + 3 : 9;
            sql::writeSqliteCell(out, m_stmt, i);
        }
        return bytes;
    }

    void detach() override
    {
        QVariantList row;
        while (m_query && advance()) {
            read(row);
            m_bytes += bytesOf(row);
            m_buffer.push_back(std::move(row));
            row = {};
        }
        finish();
    }

private:
    // The first row through Qt (its exec has read it already), the rest straight from
    // SQLite where the driver is SQLite: Qt's would copy every cell into a cache first.
    bool advance()
    {
        if (!m_stmt || !m_started) {
            m_started = true;
            return m_query->next();
        }
        m_raw = true;
        return sqlite3_step(m_stmt) == SQLITE_ROW;
    }

    void read(QVariantList &row) const
    {
        row.clear();
        row.reserve(m_columns);
        const int have = m_raw ? sqlite3_column_count(m_stmt) : 0;
        for (int i = 0; i < m_columns; ++i)
            row.append(m_raw ? (i < have ? sql::sqliteCell(m_stmt, i) : QVariant()) : m_query->value(i));
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
    sqlite3_stmt *m_stmt = nullptr; // under m_query, on SQLite
    bool m_started = false;         // the first row was asked for
    bool m_raw = false;             // the current row is read from m_stmt
    std::deque<QVariantList> m_buffer;
    qint64 m_bytes = 0;
};

// PostgreSQL hands a statement's rows over all at once; a cursor in a read-only transaction of
// the connection hands them over batch by batch, from one snapshot, as SQLite steps through
// its statement.
class CursorRows final : public StreamingRows
{
public:
    static constexpr int Batch = 256;

    CursorRows(int columns, QSqlDatabase db, const QString &select)
        : m_columns(columns), m_db(std::move(db)), m_name(u"rows"_s + QString::number(++s_serial))
    {
        sql::exec(m_db, u"BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"_s);
        m_open = true;
        t_live.append(this);
        try {
            sql::exec(m_db, u"DECLARE "_s + m_name + u" NO SCROLL CURSOR FOR "_s + select);
        } catch (...) {
            finish();
            throw;
        }
    }
    ~CursorRows() override { finish(); }

    int columnCount() const override { return m_columns; }
    qint64 heldBytes() const override { return m_bytes; }
    const QSqlDriver *driver() const override { return m_open ? m_db.driver() : nullptr; }

    bool next(QVariantList &row) override
    {
        if (m_buffer.empty() && m_open)
            fetch(QString::number(Batch));
        if (m_buffer.empty())
            return false;
        row = std::move(m_buffer.front());
        m_buffer.pop_front();
        m_bytes -= bytesOf(row);
        return true;
    }

    void detach() override
    {
        if (m_open)
            fetch(u"ALL"_s);
    }

private:
    void fetch(const QString &count)
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(u"FETCH "_s + count + u" FROM "_s + m_name)) {
            finish();
            sql::fail(q);
        }
        int n = 0;
        while (q.next()) {
            QVariantList row;
            row.reserve(m_columns);
            for (int i = 0; i < m_columns; ++i)
                row.append(q.value(i));
            m_bytes += bytesOf(row);
            m_buffer.push_back(std::move(row));
            ++n;
        }
        if (count == u"ALL"_s || n < Batch)
            finish();
    }

    void finish()
    {
        if (!m_open)
            return;
        m_open = false;
        t_live.removeOne(this);
        QSqlQuery(m_db).exec(u"ROLLBACK"_s); // read only: nothing to keep, the cursor goes with it
    }

    static inline int s_serial = 0;
    int m_columns;
    QSqlDatabase m_db;
    QString m_name;
    bool m_open = false;
    std::deque<QVariantList> m_buffer;
    qint64 m_bytes = 0;
};

} // namespace

std::unique_ptr<RowSource> rowsFromCursor(int columns, QSqlDatabase db, const QString &select)
{
    return std::make_unique<CursorRows>(columns, std::move(db), select);
}

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
    const QList<StreamingRows *> live = t_live;
    for (StreamingRows *rows : live)
        if (rows->driver() == driver)
            rows->detach();
}

bool sqlRowSourcesLive(const QSqlDriver *driver)
{
    return std::any_of(t_live.cbegin(), t_live.cend(), [driver](const StreamingRows *r) { return r->driver() == driver; });
}

} // namespace server
