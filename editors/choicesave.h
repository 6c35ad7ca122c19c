#pragma once
// Saving a choice (delete the stored one, store one object per tick) as one server
// transaction, so a failure part-way leaves the stored choice as it was.

#include <QString>

#include <functional>

namespace editors::choice {

// Runs work (plain factory calls, no server work brackets of its own) between TSTART and
// TCOMMIT inside one level of server work. Its saves are pipelined (factory::SavePipeline).
// On any failure the transaction is rolled back and the failure reported with the error box
// under the operation text; answers false.
bool saveInTransaction(const QString &operation, const std::function<void()> &work);

// Reports the exception being handled with the error box; only inside a catch block.
void reportCurrentException(const QString &operation);

} // namespace editors::choice
