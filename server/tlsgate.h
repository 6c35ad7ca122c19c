#pragma once
// The plain hello of a server that serves TLS only: a client that offers TLS ("tls": true)
// is told to switch and the handshake follows on the same socket; any other is refused
// with 1010. The client then says its hello again, encrypted.

#include "factory/wire.h"

#include <QCborMap>
#include <QSslConfiguration>

namespace server {

class Link;

namespace tlsgate {

// True when `message` was such a hello and was handled here: then the link is encrypted,
// or `over` is set and the connection must end. `unread`: bytes already read past the hello
// (a client must wait for the answer before its handshake). msec bounds the handshake.
bool plainHello(const QSslConfiguration &config, Link &link, const wire::Request &message, qsizetype unread,
                int jobNumber, int msec, bool &over);

} // namespace tlsgate
} // namespace server
