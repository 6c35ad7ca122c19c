#include "factory/connection.h"
#include "factory/factory.h"
#include "factory/objects.h"

#include <vector>

using namespace Qt::StringLiterals;

namespace factory {

namespace {
// The first batch is what a look-up shows (the search keeps 500 hits); a caller that reads on
// reads a long list, so later batches are as large as the server makes them (10 000 rows or
// about 1 MiB): each batch is a round trip, and over a slow network round trips are the cost.
constexpr int BatchRows = 500;
constexpr int FurtherBatchRows = 10000;
constexpr int MaxArguments = 5;
} // namespace

struct ResultSet::Private
{
    std::shared_ptr<Connection> conn;
    QString className;
    QString query;
    std::vector<QVariant> cells; // the current batch, row after row
    qsizetype rows = 0;
    qsizetype row = -1;
    int columns = 0;
    qint64 handle = 0;
    bool more = false;
    bool executed = false;

    void readRows(wire::CborReader &r)
    {
        cells.clear();
        rows = 0;
        auto a = r.enterArray();
        if (columns > 0 && a.remaining > 0)
            cells.reserve(size_t(qMin<qint64>(a.remaining, 10000)) * size_t(columns));
        while (r.more(a)) {
            const size_t first = cells.size();
            for (auto c = r.enterArray(); r.more(c);) {
                if (columns == 0 || cells.size() - first < size_t(columns))
                    cells.push_back(lateBound(r.value()));
                else
                    r.skip();
            }
            if (columns == 0 && rows == 0)
                columns = int(cells.size());
            cells.resize(first + size_t(columns), QVariant(QString())); // a short row reads "" further on
            ++rows;
        }
    }

    // {h, c, rows, more} of query; {rows, more} of next.
    void readBatch(wire::CborReader &r)
    {
        for (auto c = r.enterMap(); r.more(c);) {
            const QByteArrayView key = r.textView();
            if (key == "h")
                handle = r.integer();
            else if (key == "c")
                columns = int(r.integer());
            else if (key == "rows")
                readRows(r);
            else if (key == "more")
                more = r.boolean();
            else
                r.skip();
        }
        row = -1;
        if (!more)
            handle = 0; // the server has let go of it already
    }

    void reset()
    {
        cells.clear();
        rows = 0;
        row = -1;
        handle = 0;
        more = false;
    }

    QString what() const { return u"Abfrage '%1' der Klasse %2"_s.arg(query, className); }
};

ResultSet::ResultSet(std::shared_ptr<Connection> conn, QString className, QString queryName)
    : d(std::make_unique<Private>())
{
    d->conn = std::move(conn);
    d->className = std::move(className);
    d->query = std::move(queryName);
}

ResultSet::~ResultSet()
{
    try {
        Close();
    } catch (...) {
        // A handle the server cannot close any more is gone with its job anyway.
    }
}

void ResultSet::Execute(const QVariantList &args)
{
    if (args.size() > MaxArguments)
        throw Error(ErrorCode::ArgumentCount,
                    u"%1: höchstens %2 Argumente, nicht %3"_s.arg(d->what()).arg(MaxArguments).arg(args.size()));
    if (d->handle != 0 && d->more)
        Close();
    d->reset();
    d->executed = false;

    wire::CborWriter &w = d->conn->begin("query"_L1, 4);
    w.key("cls"_L1);
    w.text(d->className);
    w.key("q"_L1);
    w.text(d->query);
    w.key("a"_L1);
    w.array(quint64(args.size()));
    for (const QVariant &a : args)
        w.value(a);
    w.key("b"_L1);
    w.integer(BatchRows);
    d->columns = 0;
    d->readBatch(d->conn->exchange({"Execute"_L1, d->className, d->query}));
    d->executed = true;
}

bool ResultSet::Next()
{
    if (!d->executed)
        throw Error(ErrorCode::BadHandle, u"%1 ist nicht ausgeführt"_s.arg(d->what()));
    if (d->row + 1 < d->rows) {
        ++d->row;
        return true;
    }
    while (d->more) {
        wire::CborWriter &w = d->conn->begin("next"_L1, 2);
        w.key("h"_L1);
        w.integer(d->handle);
        w.key("b"_L1);
        w.integer(FurtherBatchRows);
        d->readBatch(d->conn->exchange({"Next"_L1, d->className, d->query}));
        if (d->rows > 0) {
            d->row = 0;
            return true;
        }
    }
    d->cells.clear();
    d->rows = 0;
    d->row = -1;
    return false;
}

QVariant ResultSet::GetData(int column) const
{
    if (d->row < 0 || d->row >= d->rows)
        throw Error(ErrorCode::NoCurrentRow, u"%1 hat keine aktuelle Zeile"_s.arg(d->what()));
    if (column < 1 || column > d->columns)
        throw Error(ErrorCode::NoCurrentRow,
                    u"Spalte %1 gibt es in der %2 nicht (%3 Spalten)"_s.arg(column).arg(d->what()).arg(d->columns));
    return d->cells[size_t(d->row) * size_t(d->columns) + size_t(column - 1)];
}

int ResultSet::columnCount() const { return d->columns; }

void ResultSet::Close()
{
    const qint64 handle = d->more ? d->handle : 0;
    d->reset();
    d->executed = false;
    // A broken connection took the server's side of the result set with it.
    if (handle == 0 || !d->conn->isOpen())
        return;
    wire::CborWriter &w = d->conn->begin("close"_L1, 1);
    w.key("h"_L1);
    w.integer(handle);
    // Behind pipelined saves the close waits for nothing: waiting would collect their answers,
    // and a dropped result set would swallow a failure the next call must raise.
    if (d->conn->hasPipelined())
        d->conn->send({"Close"_L1, d->className, d->query}, {}, false);
    else
        d->conn->exchange({"Close"_L1, d->className, d->query});
}

} // namespace factory
