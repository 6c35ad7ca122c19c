#include "main/jobs.h"

#include "main/orvanta.h"
#include "session/cacheapi.h"

#include "factory/factory.h"

using namespace Qt::StringLiterals;

namespace orvanta::jobs {
namespace {
factory::Factory &session()
{
    if (!cacheapi::Factory)
        throw factory::Error(factory::ErrorCode::NotConnected, u"Keine Verbindung zum Server"_s);
    return *cacheapi::Factory;
}

void callClassMethod(factory::Factory &on, const QString &className, const QString &method,
                     const QVariantList &args)
{
    factory::ClassObjectPtr cls = on.Static(className);
    cls->call(method, args);
    cacheapi::CloseObject(cls);
}

// The gateway's part of a job: its own import of the file the main server wrote.
GatewayOutcome importOnGateway(const QString &connectionString, const QString &fileimport)
{
    std::unique_ptr<factory::Factory> gateway = connectGateway(connectionString);
    if (!gateway)
        return GatewayOutcome::Unreachable;
    try {
        callClassMethod(*gateway, u"orvanta.gateway"_s, u"import"_s, {fileimport});
    } catch (...) {
        closeGateway(gateway);
        throw;
    }
    closeGateway(gateway);
    return GatewayOutcome::Imported;
}
} // namespace

TenantParams readTenantParams(bool takePrefix)
{
    factory::InstancePtr param = session().OpenId(u"orvanta.param"_s, cacheapi::Firma);
    TenantParams p;
    try {
        p.dbpraefix = factory::toText(param->get(u"dbpraefix"_s));
        p.fileexport = factory::toText(param->get(u"fileexport"_s));
        p.fileimport = factory::toText(param->get(u"fileimport"_s));
        p.dbgateway = factory::toText(param->get(u"dbgateway"_s));
        p.dbbmecat = factory::toText(param->get(u"dbbmecat"_s));
    } catch (...) {
        cacheapi::CloseObject(param);
        throw;
    }
    if (takePrefix)
        orvanta::Dbpraefix = p.dbpraefix;
    cacheapi::CloseObject(param);
    return p;
}

std::unique_ptr<factory::Factory> connectGateway(const QString &connectionString)
{
    auto gateway = std::make_unique<factory::Factory>();
    try {
        // The gateway takes only signed-in work; a refused sign-in leaves it as unusable as
        // an unreachable one.
        if (gateway->Connect(connectionString) && gateway->IsConnected() && cacheapi::signInConnection(*gateway))
            return gateway;
        cacheapi::Trace(u"jobs.connectGateway"_s, u"Gateway nicht verbunden"_s, connectionString, 40);
    } catch (const factory::Error &e) {
        // A malformed string or an unknown namespace leaves the gateway as unreachable as a
        // server that does not answer; the user gets the same message.
        cacheapi::Trace(u"jobs.connectGateway"_s, u"Gateway nicht verbunden"_s,
                        u"Fehler #"_s + QString::number(e.number()) + u' ' + e.description(), 40);
    }
    return nullptr;
}

void closeGateway(std::unique_ptr<factory::Factory> &gateway)
{
    if (!gateway)
        return;
    try {
        if (gateway->IsConnected())
            gateway->Disconnect();
    } catch (...) {
    }
    gateway.reset();
}

void stapelaufbauArtikel()
{
    const TenantParams p = readTenantParams(true);
    callClassMethod(session(), p.dbpraefix + u"artikel"_s, u"genartikel"_s, {cacheapi::Firma, p.dbpraefix});
}

void stapelaufbauKonditionen()
{
    const TenantParams p = readTenantParams(true);
    callClassMethod(session(), u"orvanta.kond"_s, u"genkond"_s, {cacheapi::Firma, p.dbpraefix});
}

GatewayOutcome freischalten()
{
    const TenantParams p = readTenantParams(true);
    callClassMethod(session(), p.dbpraefix + u"artikel"_s, u"freischalten"_s, {p.fileexport});
    return importOnGateway(p.dbgateway, p.fileimport);
}

bool ftpaufbau()
{
    factory::ClassObjectPtr param = session().Static(u"orvanta.param"_s);
    const QVariant answer = param->call(u"ftpaufbau"_s);
    cacheapi::CloseObject(param);
    return factory::sameValue(answer, 1);
}

QString bmecatDateText(const QDate &date) { return date.toString(Qt::ISODate); }

GatewayOutcome bmecat(const QDate &date)
{
    const TenantParams p = readTenantParams(false);
    callClassMethod(session(), u"orvanta.gateway"_s, u"bmecat"_s, {bmecatDateText(date)});
    return importOnGateway(p.dbbmecat, p.fileimport);
}

} // namespace orvanta::jobs
