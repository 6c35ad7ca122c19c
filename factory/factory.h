#pragma once
// The object factory client: the only way the program reaches a Varelo server.
// Late-bound like the component it replaces: classes, properties, methods and
// queries are named by text, case-insensitively, values are QVariant (text or
// number). Every failure throws factory::Error with a number and a description.
//
// Round trips: OpenId brings the whole object; property reads cost none;
// property writes are kept until sys_Save (one round trip); New and Static cost
// none; sys_close of an unchanged object costs none; Execute is one round trip
// and brings the first batch of rows, Next fetches further batches; a class
// method is one round trip. Factory::roundTrips() counts them. Saves pipelined inside a job
// transaction (SavePipeline) cost one round trip together, counted when their answers are read.

#include "factory/error.h"
#include "factory/values.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <memory>

namespace factory {

class Connection; // wire-level connection, shared by a factory and the objects it made
class CertificatePins; // remembered server certificates (certificatepins.h)

// A server object opened by id or made with New.
class Instance final
{
public:
    struct Private; // defined where the instances are made from server answers
    Instance(std::shared_ptr<Connection> conn, QString className, QString id, QVariantMap properties,
             QVariantMap displayForms, bool isNew, QVariant initialValue);
    explicit Instance(std::unique_ptr<Private> data); // built straight from a server answer
    ~Instance();
    Q_DISABLE_COPY_MOVE(Instance)

    QString className() const;   // canonical spelling as the server declares it
    QString id() const;          // "" for a new object until it is saved
    bool isNew() const;
    QStringList propertyNames() const; // in the server's order; those set so far for a new object

    // Property read (no round trip). Unknown property of an opened object: Error 2002.
    // A new object answers "" for a property it has not been given yet.
    QVariant get(const QString &property) const;
    // Property write, kept until sys_Save.
    void set(const QString &property, const QVariant &value);

    // Instance method by name: "sys_Save", "sys_close", "<property>LogicalToODBC"(raw).
    // Anything else goes to the server as an instance method call.
    QVariant call(const QString &method, const QVariantList &args = {});

    void sys_Save();  // one round trip when something changed or the object is new
    void sys_close(); // no round trip

private:
    std::shared_ptr<Private> d; // shared with the collection of a pipelined save's answer
};

// A class object (Static): class methods called by name.
class ClassObject final
{
public:
    ClassObject(std::shared_ptr<Connection> conn, QString className);
    ~ClassObject();
    Q_DISABLE_COPY_MOVE(ClassObject)

    QString className() const;
    QVariant call(const QString &method, const QVariantList &args = {});
    void sys_close() {}

private:
    std::shared_ptr<Connection> m_conn;
    QString m_className;
};

// A class query's result set.
class ResultSet final
{
public:
    ResultSet(std::shared_ptr<Connection> conn, QString className, QString queryName);
    ~ResultSet(); // closes the server side if still open
    Q_DISABLE_COPY_MOVE(ResultSet)

    void Execute(const QVariantList &args = {}); // 0 to 5 arguments
    bool Next();                                  // true while a row is current
    QVariant GetData(int column) const;           // column counted from 1
    int columnCount() const;
    void Close();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

using InstancePtr = std::shared_ptr<Instance>;
using ClassObjectPtr = std::shared_ptr<ClassObject>;
using ResultSetPtr = std::shared_ptr<ResultSet>;

// "CacheObject.Factory"
class Factory final
{
public:
    Factory();
    ~Factory();
    Q_DISABLE_COPY_MOVE(Factory)

    // "cn_iptcp:" address "[" port "]:" namespace. False when the server cannot be
    // reached; an unknown namespace or a malformed string throws.
    bool Connect(const QString &connectionString);
    bool IsConnected() const;
    void Disconnect();

    InstancePtr OpenId(const QString &className, const QString &id);
    InstancePtr New(const QString &className, const QVariant &initialValue = {});
    ClassObjectPtr Static(const QString &className);
    ResultSetPtr ResultSet(const QString &className, const QString &queryName);

    // Infrastructure, not part of the late-bound surface.
    quint64 roundTrips() const;          // request/answer pairs sent so far
    int jobNumber() const;               // server job ($J) of this connection, 0 when not connected
    void setConnectTimeout(int msec);    // default 3000
    void setCallTimeout(int msec);       // default 30000; a call without answer then fails (1005)
    // Remembered server certificates (certificatepins.h); default: defaultCertificatePins().
    void setCertificatePins(std::shared_ptr<CertificatePins> pins);
    bool isEncrypted() const;            // the connection runs over TLS

private:
    friend class SavePipeline;
    const std::shared_ptr<Connection> &connection(QLatin1StringView operation, const QString &className) const;

    std::shared_ptr<Connection> m_conn;
    quint64 m_pastRoundTrips = 0; // of connections closed before
    std::shared_ptr<CertificatePins> m_pins;
    int m_connectTimeout = 3000;
    int m_callTimeout = 30000;
};

// Only inside a job transaction (after TSTART, before TCOMMIT or TROLLBACK): while one lives,
// sys_Save sends without waiting for its answer. The answers are read at the next call that
// needs one (any call with an answer, or a look at a saved object), before that call is sent;
// the first failure among them is raised there as the save would have raised it, and the
// call is not sent, so the caller's TROLLBACK undoes the saves that followed the failed one.
// Left by an exception, the scope reads and drops what is outstanding, so that the
// TROLLBACK goes through.
class SavePipeline final
{
public:
    explicit SavePipeline(Factory &factory);
    ~SavePipeline();
    Q_DISABLE_COPY_MOVE(SavePipeline)

private:
    std::shared_ptr<Connection> m_conn; // the job whose transaction it is
    int m_exceptions;
};

} // namespace factory
