#pragma once
// Signing a connection in on the server: the password check (VR.ParPersEdv query
// UserViaPasswort) that, when it finds an active user, makes the server take the
// connection as that user's. Until then a connection may do only what the sign-in needs.

#include "factory/factory.h"

namespace factory {

// The personnel code (server form) the password belongs to, "" when it belongs to nobody;
// code "" looks the user up by the password alone. An inactive user is answered but does
// not sign the connection in. Server failures throw factory::Error.
QString checkPassword(Factory &factory, const QString &password, const QString &tenant, const QString &code);

} // namespace factory
