#include "server/passwords.h"

#include "factory/error.h"
#include "server/sqlutil.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <openssl/evp.h>

using namespace Qt::StringLiterals;

namespace server::passwords {

namespace {
// About 3 ms on a development machine: one hash per sign-in check, a few per start-up
// conversion. The count is part of every stored hash, so it can grow without a conversion.
constexpr int Iterations = 10000;
constexpr int KeyBytes = 32;
constexpr int SaltBytes = 16;
constexpr int HashBytes = 32;

QByteArray g_key; // set once at start-up, read by every job thread

[[noreturn]] void fail(const QString &text) { throw factory::Error(factory::ErrorCode::Storage, text); }

QByteArray randomBytes(int n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

QByteArray keyed(const QByteArray &message)
{
    return QMessageAuthenticationCode::hash(message, g_key, QCryptographicHash::Sha256);
}

// PBKDF2-HMAC-SHA256. OpenSSL's takes a fifth of the time of Qt's (QPasswordDigestor), which
// builds a new HMAC every iteration, for the same bytes: a sign-in waits for it.
QByteArray derive(const QString &password, const QByteArray &salt, int iterations)
{
    const QByteArray secret = keyed(password.toUtf8());
    QByteArray out(HashBytes, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(secret.constData(), int(secret.size()), reinterpret_cast<const unsigned char *>(salt.constData()),
                          int(salt.size()), iterations, EVP_sha256(), HashBytes,
                          reinterpret_cast<unsigned char *>(out.data()))
        != 1)
        fail(u"Passwort-Hash nicht zu berechnen"_s);
    return out;
}

// Compares without leaking through its time where the first difference lies.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}
} // namespace

void useKeyFile(const QString &path)
{
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            fail(u"Passwortschlüssel '"_s + path + u"' nicht zu lesen: "_s + file.errorString());
        g_key = QByteArray::fromHex(file.readAll().trimmed());
        if (g_key.size() != KeyBytes)
            fail(u"Passwortschlüssel '"_s + path + u"' ist beschädigt"_s);
        return;
    }
    g_key = randomBytes(KeyBytes);
    if (!file.open(QIODevice::NewOnly | QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(g_key.toHex() + '\n') != KeyBytes * 2 + 1 || !file.flush())
        fail(u"Passwortschlüssel '"_s + path + u"' nicht anzulegen: "_s + file.errorString());
}

void checkNamespace(QSqlDatabase db)
{
    sql::exec(db, u"CREATE TABLE IF NOT EXISTS password_key (check_value TEXT NOT NULL)"_s);
    const QString check = QString::fromLatin1(keyed("password-key-check").toBase64());
    QSqlQuery q(db);
    if (!q.exec(u"SELECT check_value FROM password_key"_s))
        sql::fail(q);
    if (q.next()) {
        if (q.value(0).toString() != check)
            fail(u"die Passwörter dieses Namensraums sind mit einem anderen Passwortschlüssel gespeichert"
                 u" (Datei password.key des Datenordners)"_s);
        return;
    }
    q.finish();
    QSqlQuery insert(db);
    insert.prepare(u"INSERT INTO password_key (check_value) VALUES (?)"_s);
    insert.addBindValue(check);
    if (!insert.exec())
        sql::fail(insert);
}

QString hash(const QString &password)
{
    const QByteArray salt = randomBytes(SaltBytes);
    return u"pbkdf2-sha256$"_s + QString::number(Iterations) + u'$' + QString::fromLatin1(salt.toBase64()) + u'$'
           + QString::fromLatin1(derive(password, salt, Iterations).toBase64());
}

bool verify(const QString &stored, const QString &password)
{
    const QStringList parts = stored.split(u'$');
    if (parts.size() != 4 || parts[0] != u"pbkdf2-sha256"_s)
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < 1 || iterations > 10'000'000)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
    return sameBytes(derive(password, salt, iterations), QByteArray::fromBase64(parts[3].toLatin1()));
}

int bucket(const QString &tenant, const QString &password)
{
    const QByteArray mac = keyed("bucket\0"_ba + tenant.toUtf8() + '\0' + password.toUtf8());
    return ((static_cast<unsigned char>(mac[0]) << 8) | static_cast<unsigned char>(mac[1])) & 0x3FF;
}

} // namespace server::passwords
