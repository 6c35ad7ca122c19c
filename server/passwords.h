#pragma once
// Passwords at rest. A password is kept as a salted PBKDF2 hash of its HMAC under the
// server's password key, so a copied database without the key file gives nothing to guess
// against. The sign-in by password alone (UserViaPasswort without a code) finds its
// candidates through a short keyed bucket number: an index lookup, and too few bits to
// shortcut a guess even with the key.

#include <QSqlDatabase>
#include <QString>

namespace server::passwords {

// Loads the key from the file, or creates the file (owner-only) with a new random key.
// Call once before any job runs. Throws factory::Error 4000.
void useKeyFile(const QString &path);
// Refuses (factory::Error 4000) a namespace whose passwords were stored under another key;
// records the key's check value in a namespace that has none yet. Inside the caller's transaction.
void checkNamespace(QSqlDatabase db);

QString hash(const QString &password); // "pbkdf2-sha256$<iterations>$<salt>$<hash>", base64
bool verify(const QString &stored, const QString &password);
int bucket(const QString &tenant, const QString &password); // 0 to 1023

} // namespace server::passwords
