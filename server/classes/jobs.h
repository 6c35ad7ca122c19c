#pragma once
// The web interface's batch jobs. Each call answers as soon as its job is started; the job
// runs on its own connection and its run is recorded (Varelo.Batch query "Runs").

#include "server/classdecl.h"

namespace server::classes::jobs {

// Files are read and written only inside the server's output folder: refuses (2009) anything
// but a plain file name.
QString plainFileName(const QString &name, const QString &what);

// prefix + "artikel" genartikel(tenant, prefix): the article batch of the tenant.
QVariant startGenArtikel(CallContext &ctx, const QString &prefix, const QVariantList &args);
// prefix + "artikel" freischalten(export file): releases the batches of every tenant of the prefix.
QVariant startFreischalten(CallContext &ctx, const QString &prefix, const QVariantList &args);

} // namespace server::classes::jobs
