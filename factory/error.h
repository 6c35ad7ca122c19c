#pragma once
#include <QString>
#include <exception>

namespace factory {

// Error numbers; docs/protocol.md lists them with their meaning.
namespace ErrorCode {
enum : int {
    Protocol = 1000,          // malformed frame or message
    FrameTooLarge = 1001,
    Version = 1002,           // unsupported protocol version
    UnknownNamespace = 1003,
    NotConnected = 1004,      // no connection, or it broke during the call
    Timeout = 1005,           // no answer within the call limit
    BadConnectionString = 1006,
    TlsRequired = 1010,        // the server serves TLS only; the client did not offer it
    Busy = 1011,               // the server takes no further connection now
    CertificateChanged = 1012, // (client side) not the certificate remembered for that address
    PlainToPinned = 1013,      // (client side) unencrypted answer where a certificate is remembered
    TlsFailed = 1014,          // (client side) the TLS handshake failed
    SignInRequired = 1100,     // the connection has not signed in (UserViaPasswort)
    UnknownClass = 2001,
    UnknownProperty = 2002,
    UnknownMethod = 2003,
    UnknownQuery = 2004,
    ArgumentCount = 2005,
    ObjectNotFound = 2006,
    InvalidId = 2007,
    BadHandle = 2008,          // result set or list handle unknown, closed or of another job
    Refused = 2009,            // the class refused the data (validation)
    ReadOnly = 2010,
    NoCurrentRow = 2011,       // result set without a current row, or no such column (client side)
    MError = 3000,             // 3000 + n: M errors, description starts with "<NAME>"
    Storage = 4000,
    Transaction = 4001,
    Internal = 4999,
};
}

class Error : public std::exception
{
public:
    Error(int number, QString description)
        : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8()) {}
    int number() const noexcept { return m_number; }
    QString description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

} // namespace factory
