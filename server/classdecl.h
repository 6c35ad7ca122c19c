#pragma once
// The server's object layer: one small declaration per server class.
//
// A class with a table keeps its objects in that SQL table; the columns are the declared
// property names exactly (quote them in SQL: "Firma"). With idProperties the object id is
// those properties' values joined by "||" (the tenant first) and is kept in column "id"
// (TEXT PRIMARY KEY); without, the server numbers new objects (column "id" INTEGER PRIMARY KEY).
// Class methods, instance methods and queries are looked up by lower-case name.
// Class code refuses anything by throwing factory::Error (see factory/error.h).

#include "factory/error.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace wire {
class CborWriter;
}

namespace server {

class Job;
namespace store {
struct Store;
}

// Everything a batch job may touch: it runs outside the caller's job, on its own
// database connection, after the starting call has answered.
struct BatchContext
{
    QSqlDatabase db; // autocommit: the work opens the transactions it needs itself
    QString ns;
    QString job;
    const store::Store *store = nullptr; // where the namespace and the run records live
    QString dataDir;   // the server's --data folder
    QString outputDir; // <data>/output, shared by the namespaces of this server, created on demand
    QString tenant;
    QVariantList args;
    QString outputFile; // set by the work: the file it wrote, kept in the run record
    qint64 runId = 0;
    void progress(const QString &text); // kept in the run record at once, readable while the run goes on
};
using BatchWork = std::function<QString(BatchContext &)>; // answers the outcome text; throws to fail

// What class code sees of the calling job.
class CallContext
{
public:
    virtual ~CallContext() = default;
    // Inside the call's transaction. A query (outside a job transaction) gets a connection
    // of its own, reading what is committed, so its rows can stream while the job goes on.
    virtual QSqlDatabase db() = 0;
    // db() is a query connection of its own (outside any transaction of the job).
    virtual bool dbIsQueryConnection() const { return false; }
    virtual QString ns() const = 0;       // namespace, canonical spelling
    virtual int jobNumber() const = 0;
    virtual QString dataDir() const = 0;
    virtual QString outputDir() const = 0;

    // The list mechanism: a handle for VR.XW "Liste", one row per record ("|"-separated).
    virtual int newList(const QStringList &records) = 0;
    // Runs one M command line in this job and answers what it wrote.
    virtual QString xecute(const QString &line) = 0;
    // Starts a batch job; answers at once. The run is recorded (Varelo.Batch query "Runs").
    virtual void startBatch(const QString &job, const QString &tenant, const QVariantList &args,
                            BatchWork work) = 0;
    // The sign-in's password check found this user (code empty: nobody with that password).
    // An active user signs the connection in; see server/access.h.
    virtual void passwordChecked(const QString &code, bool active) = 0;
};

// Rows of a class query, read batch by batch.
class RowSource
{
public:
    virtual ~RowSource() = default;
    virtual int columnCount() const = 0;
    virtual bool next(QVariantList &row) = 0; // false at the end
    // The next row straight onto the wire, as an array of what values::writeCbor makes of
    // next()'s values; its size there, about, or -1 at the end.
    virtual qsizetype writeNext(wire::CborWriter &out);
    // What the rows still to be read hold in memory (about); a streaming statement holds none.
    virtual qint64 heldBytes() const { return 0; }
};
std::unique_ptr<RowSource> rowsFromList(int columns, QList<QVariantList> rows);
// Streams a prepared, executed query (keeps it open until the last row is read).
std::unique_ptr<RowSource> rowsFromSql(int columns, std::unique_ptr<class QSqlQuery> query);
// PostgreSQL: streams a SELECT (values inlined, nothing to bind) through a cursor of its own
// read-only transaction on db, a connection outside any other transaction.
std::unique_ptr<RowSource> rowsFromCursor(int columns, QSqlDatabase db, const QString &select);

using ClassMethod = std::function<QVariant(CallContext &, const QVariantList &args)>;
// object: the stored properties by canonical name, and the object id under "%Id".
using InstanceMethod = std::function<QVariant(CallContext &, const QVariantMap &object, const QVariantList &args)>;
using Query = std::function<std::unique_ptr<RowSource>(CallContext &, const QVariantList &args)>;
using DisplayForm = std::function<QString(const QVariant &raw)>;
// Whether a stored text (UTF-8) is its own display form, which then needs no call of DisplayForm.
using SameOnDisplay = bool (*)(QByteArrayView storedUtf8);
using Routine = std::function<QString(CallContext &)>; // answers what it wrote

struct PropertyDecl
{
    QString name;
    DisplayForm display = {}; // "<name>LogicalToODBC"; none = the raw value as text
    bool readOnly = false;
    bool hidden = false; // stored, but never sent to a client nor set by one
    SameOnDisplay sameOnDisplay = nullptr; // none: every text goes through `display`
};

struct ClassDecl
{
    QString name;  // canonical spelling, e.g. "VR.ParPersEdv"
    QString table; // empty: no stored objects (class methods and queries only)
    QList<PropertyDecl> properties;
    QStringList idProperties;
    QStringList indexes; // "col1,col2" each, for the table; "#col": ordered by number (sql::numberOrder)

    // New(class, initial): fills the new object's properties from the initial value.
    std::function<void(QVariantMap &props, const QVariant &initial)> onNew;
    // Before every save: check and complete; throw factory::Error(2009, ...) to refuse.
    std::function<void(CallContext &, QVariantMap &props, bool isNew)> beforeSave;
    // At every start, once the tables exist (and a new namespace is seeded): brings stored
    // data of an older server up to date. Inside the start-up transaction.
    std::function<void(QSqlDatabase db)> upgrade;

    QHash<QString, ClassMethod> methods;            // key: lower-case name
    QHash<QString, InstanceMethod> instanceMethods; // key: lower-case name
    QHash<QString, Query> queries;                  // key: lower-case name
};

// Built once at start-up; read by every job thread. Resolvers may add classes on demand
// (the prefix classes of the web interface); they are called under a lock.
class ClassRegistry
{
public:
    void add(ClassDecl decl);
    // Adds methods or queries to a class another file declares.
    void extend(const QString &name, const std::function<void(ClassDecl &)> &change);
    using Resolver = std::function<std::optional<ClassDecl>(const QString &name, CallContext &)>;
    void addResolver(Resolver resolver);
    const ClassDecl *find(const QString &name, CallContext &ctx) const; // nullptr: unknown
    QList<const ClassDecl *> all() const;

    void addRoutine(const QString &name, Routine routine); // DO ^name, e.g. "%XTT"
    const Routine *routine(const QString &name) const;

private:
    QHash<QString, std::shared_ptr<ClassDecl>> m_classes; // key: lower-case name
    QList<Resolver> m_resolvers;
    QHash<QString, Routine> m_routines;
    mutable std::mutex m_mutex;
    mutable QHash<QString, std::shared_ptr<ClassDecl>> m_resolved;
};

// M globals, kept in the table "globals" of every namespace.
namespace globals {
std::optional<QString> get(QSqlDatabase db, const QString &name, const QStringList &subscripts);
void set(QSqlDatabase db, const QString &name, const QStringList &subscripts, const QString &value);
void kill(QSqlDatabase db, const QString &name, const QStringList &subscripts);
int data(QSqlDatabase db, const QString &name, const QStringList &subscripts); // 0, 1, 10, 11
} // namespace globals

// Implemented by the class files: every class, routine and resolver of the application.
void registerApplicationClasses(ClassRegistry &registry);
// Fills a fresh namespace with the demo business; scale multiplies customers and suppliers.
void seedDemo(QSqlDatabase db, const QString &ns, int scale);

} // namespace server
