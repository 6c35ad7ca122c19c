#pragma once
// What a connection may do before it signed in: what the sign-in windows need and nothing
// else (docs/server.md has the table). A connection signs in with VR.ParPersEdv query
// UserViaPasswort; the M locals it sets (FIRMA, PERSONAL) grant nothing.

#include "factory/wire.h"

#include <QString>

namespace server::access {

bool openBeforeSignIn(const QString &op, const wire::Request &request);
// The password check itself (VR.ParPersEdv query UserViaPasswort).
bool isPasswordCheck(const QString &op, const wire::Request &request);
// The op and the class, method or query it names, for messages ("call VR.Windows Xecute").
QString describe(const QString &op, const wire::Request &request);
// The description of error 1100 for a request that needs a sign-in.
QString refusal(const QString &op, const wire::Request &request);

// Wrong passwords in a row on one connection after which every further check waits.
constexpr int FreeWrongPasswords = 5;
constexpr int WrongPasswordDelayMsec = 1000;

} // namespace server::access
