#pragma once
// The server-side batch jobs the main window and the BMEcat dialog start for the current
// tenant. Server failures throw factory::Error; the windows report them.

#include <QDate>
#include <QString>

#include <memory>

namespace factory { class Factory; }

namespace orvanta::jobs {

// The parameters of the current tenant (orvanta.param, id Firma) the jobs read.
struct TenantParams
{
    QString dbpraefix, fileexport, fileimport, dbgateway, dbbmecat;
};
// Reads them in one open; with takePrefix the program-wide database prefix follows.
TenantParams readTenantParams(bool takePrefix);

// The gateway server for one run: a connection of its own, never the session's.
// nullptr when it cannot be reached or the connection string is unusable.
std::unique_ptr<factory::Factory> connectGateway(const QString &connectionString);
void closeGateway(std::unique_ptr<factory::Factory> &gateway);

void stapelaufbauArtikel();
void stapelaufbauKonditionen();

// The release runs on the main server in any case; the gateway import only when reachable.
enum class GatewayOutcome { Imported, Unreachable };
GatewayOutcome freischalten();

// True when the server answered that the build has started (1).
bool ftpaufbau();

// The catalogue build as of a date on the main server, then the gateway import.
GatewayOutcome bmecat(const QDate &date);
QString bmecatDateText(const QDate &date); // how the date travels: yyyy-MM-dd

} // namespace orvanta::jobs
