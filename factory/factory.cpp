#include "factory/factory.h"

#include "factory/certificatepins.h"
#include "factory/connection.h"
#include "factory/objects.h"

using namespace Qt::StringLiterals;

namespace factory {

Factory::Factory() = default;

Factory::~Factory()
{
    if (m_conn)
        m_conn->close();
}

bool Factory::Connect(const QString &connectionString)
{
    const std::optional<Address> address = parseConnectionString(connectionString);
    if (!address)
        throw Error(ErrorCode::BadConnectionString,
                    u"Verbindungszeichenfolge '%1' ungültig (erwartet cn_iptcp:Adresse[Port]:Namespace)"_s.arg(
                        connectionString));
    Disconnect();
    // A fresh connection each time: objects of the old one must not reach the new job,
    // whose handles and objects are not theirs.
    auto conn = std::make_shared<Connection>();
    conn->setCallTimeout(m_callTimeout);
    conn->setCertificatePins(m_pins ? m_pins : defaultCertificatePins());
    if (!conn->open(*address, m_connectTimeout))
        return false;
    m_conn = std::move(conn);
    return true;
}

void Factory::setCertificatePins(std::shared_ptr<CertificatePins> pins) { m_pins = std::move(pins); }

bool Factory::isEncrypted() const { return m_conn && m_conn->isEncrypted(); }

bool Factory::IsConnected() const { return m_conn && m_conn->isConnected(); }

void Factory::Disconnect()
{
    if (!m_conn)
        return;
    m_conn->close();
    m_pastRoundTrips += m_conn->roundTrips();
    m_conn.reset();
}

const std::shared_ptr<Connection> &Factory::connection(QLatin1StringView operation, const QString &className) const
{
    if (!m_conn || !m_conn->isOpen())
        throw Error(ErrorCode::NotConnected,
                    u"Keine Verbindung zum Server ("_s + describe({operation, className}) + u')');
    return m_conn;
}

InstancePtr Factory::OpenId(const QString &className, const QString &id)
{
    return openInstance(connection("OpenId"_L1, className), className, id);
}

InstancePtr Factory::New(const QString &className, const QVariant &initialValue)
{
    return newInstance(connection("New"_L1, className), className, initialValue);
}

ClassObjectPtr Factory::Static(const QString &className)
{
    return std::make_shared<ClassObject>(connection("Static"_L1, className), className);
}

ResultSetPtr Factory::ResultSet(const QString &className, const QString &queryName)
{
    return std::make_shared<factory::ResultSet>(connection("ResultSet"_L1, className), className, queryName);
}

quint64 Factory::roundTrips() const { return m_pastRoundTrips + (m_conn ? m_conn->roundTrips() : 0); }

int Factory::jobNumber() const { return IsConnected() ? m_conn->jobNumber() : 0; }

void Factory::setConnectTimeout(int msec) { m_connectTimeout = msec; }

void Factory::setCallTimeout(int msec)
{
    m_callTimeout = msec;
    if (m_conn)
        m_conn->setCallTimeout(msec);
}

ClassObject::ClassObject(std::shared_ptr<Connection> conn, QString className)
    : m_conn(std::move(conn)), m_className(std::move(className))
{
}

ClassObject::~ClassObject() = default;

QString ClassObject::className() const { return m_className; }

QVariant ClassObject::call(const QString &method, const QVariantList &args)
{
    wire::CborWriter &w = m_conn->begin("call"_L1, 3);
    w.key("cls"_L1);
    w.text(m_className);
    w.key("m"_L1);
    w.text(method);
    w.key("a"_L1);
    w.array(quint64(args.size()));
    for (const QVariant &a : args)
        w.value(a);
    return lateBound(m_conn->exchange({"call"_L1, m_className, method}).value());
}

SavePipeline::SavePipeline(Factory &factory)
    : m_conn(factory.m_conn), m_exceptions(std::uncaught_exceptions())
{
    if (m_conn)
        m_conn->setPipelining(true);
}

SavePipeline::~SavePipeline()
{
    if (!m_conn)
        return;
    m_conn->setPipelining(false);
    if (std::uncaught_exceptions() > m_exceptions)
        m_conn->discardPipelined();
}

} // namespace factory
