// varelo-server [--listen HOST:PORT] [--data DIR] [--namespace NAME]... [--seed demo] [--scale N]
//               [--batch-workers N]
//               [--tls-cert FILE --tls-key FILE] [--max-connections N] [--hello-timeout MS]
//               [--line-time SECONDS] [--transaction-idle SECONDS] [--job-memory MIB] [--exclusive-data]

#include "server/builtin.h"
#include "server/copystore.h"
#include "server/log.h"
#include "server/passwords.h"
#include "server/runlog.h"
#include "server/server.h"
#include "server/servercontext.h"
#include "server/tlsconfig.h"
#include "factory/certificatepins.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

[[noreturn]] void fail(const QString &text)
{
    std::fprintf(stderr, "varelo-server: %s\n", qPrintable(text));
    std::exit(2);
}

bool parseListen(const QString &text, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p > 65535)
        return false;
    port = quint16(p);
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(host))
        return false;
    return true;
}

// Anyone who reaches the port can read what travels: say so where the operator looks.
void warnIfListeningUnencrypted(const QHostAddress &address, bool tls)
{
    if (tls || address.isLoopback())
        return;
    server::log::line(u"varelo-server: WARNING: listening beyond loopback without TLS; passwords and data "
                      u"travel in clear (see --tls-cert and --tls-key)"_s);
}

// Connections cost descriptors; the soft limit is often far below what the system allows.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // The plain event dispatcher is enough for the listening socket and cheaper.
    qputenv("QT_NO_GLIB", "1");
#if defined(__GLIBC__)
    // Frames of up to 16 MiB come and go on many threads. A fixed threshold keeps every big
    // buffer in its own mapping, which goes back to the system when freed; glibc's moving
    // threshold would soon put them in the threads' arenas, which keep what they once held.
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    raiseDescriptorLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"varelo-server"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Varelo server: object layer, M command lines and demo data over TCP"_s);
    parser.addHelpOption();
    parser.addOption({u"listen"_s, u"Address and port to listen on (port 0: any free port)."_s, u"HOST:PORT"_s,
                      u"127.0.0.1:1973"_s});
    parser.addOption({u"data"_s, u"Folder of the databases, the password key and the output."_s, u"DIR"_s,
                      u"./varelo-data"_s});
    parser.addOption({u"store"_s,
                      u"Serve the namespaces from this PostgreSQL database (postgresql://USER@HOST:PORT/DB),"
                      " one schema each, instead of the SQLite files of --data."_s,
                      u"URI"_s});
    parser.addOption({u"exclusive-data"_s,
                      u"The databases of --data are this server's alone while it runs: no other program (the"
                      " sqlite3 tool, a copy, a second server) can open them, and reads need no file lock each."_s});
    parser.addOption({u"copy-store"_s,
                      u"--copy-store FROM TO: copy the namespaces (--namespace) from FROM to TO, each a data"
                      " folder or a postgresql:// URI, then stop. The password key is that of --data (default:"
                      " the data folder among FROM and TO)."_s,
                      u"FROM"_s});
    parser.addPositionalArgument(u"TO"_s, u"With --copy-store: where the namespaces go."_s);
    parser.addOption({u"namespace"_s, u"A namespace to serve (repeatable; default VARELO)."_s, u"NAME"_s});
    parser.addOption({u"seed"_s, u"Fill new namespaces with the demo business (\"demo\")."_s, u"WHAT"_s});
    parser.addOption({u"scale"_s, u"Multiplies the demo customers and suppliers."_s, u"N"_s, u"1"_s});
    parser.addOption({u"batch-workers"_s, u"Batch runs at once; the rest wait their turn."_s, u"N"_s,
                      QString::number(server::BatchRunner::DefaultWorkers)});
    parser.addOption({u"tls-cert"_s, u"Serve TLS only, with this PEM certificate (chain)."_s, u"FILE"_s});
    parser.addOption({u"tls-key"_s, u"The PEM private key of --tls-cert."_s, u"FILE"_s});
    parser.addOption({u"max-connections"_s, u"Connections served at once; further ones are refused."_s, u"N"_s,
                      u"256"_s});
    parser.addOption({u"hello-timeout"_s, u"Time a new connection has for its hello."_s, u"MS"_s, u"10000"_s});
    parser.addOption({u"line-time"_s, u"Longest run of one M command line, in seconds."_s, u"SECONDS"_s, u"3"_s});
    parser.addOption({u"transaction-idle"_s,
                      u"A job transaction (TSTART) without a call for this long is rolled back, in seconds."_s,
                      u"SECONDS"_s, u"60"_s});
    parser.addOption({u"job-memory"_s, u"Memory the open result sets and lists of one job may hold, in MiB."_s,
                      u"MIB"_s, u"256"_s});
    parser.process(app);

    QHostAddress address;
    quint16 port = 0;
    const QString listen = parser.value(u"listen"_s);
    if (!parseListen(listen, address, port))
        fail(u"--listen expects HOST:PORT, not '"_s + listen + u"'"_s);
    const bool seed = parser.isSet(u"seed"_s);
    if (seed && parser.value(u"seed"_s) != u"demo"_s)
        fail(u"--seed knows only 'demo'"_s);
    bool scaleOk = false;
    const int scale = parser.value(u"scale"_s).toInt(&scaleOk);
    if (!scaleOk || scale < 1)
        fail(u"--scale expects a whole number of at least 1"_s);
    bool workersOk = false;
    const int workers = parser.value(u"batch-workers"_s).toInt(&workersOk);
    if (!workersOk || workers < 1 || workers > 64)
        fail(u"--batch-workers expects a whole number from 1 to 64"_s);

    // Seconds, fractions allowed (tests use short ones); answers milliseconds.
    auto seconds = [&](const QString &option) {
        bool ok = false;
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || value <= 0 || value > 86400)
            fail(u"--"_s + option + u" expects seconds between 0 and 86400"_s);
        return qMax(1, int(value * 1000));
    };

    server::ServerContext context;
    bool numberOk = false;
    context.maxConnections = parser.value(u"max-connections"_s).toInt(&numberOk);
    if (!numberOk || context.maxConnections < 1)
        fail(u"--max-connections expects a whole number of at least 1"_s);
    context.helloTimeoutMsec = parser.value(u"hello-timeout"_s).toInt(&numberOk);
    if (!numberOk || context.helloTimeoutMsec < 1)
        fail(u"--hello-timeout expects milliseconds"_s);
    if (parser.isSet(u"tls-cert"_s) != parser.isSet(u"tls-key"_s))
        fail(u"--tls-cert and --tls-key go together"_s);
    if (parser.isSet(u"tls-cert"_s)) {
        QString why;
        context.tls = server::loadTlsConfiguration(parser.value(u"tls-cert"_s), parser.value(u"tls-key"_s), why);
        if (!context.tls)
            fail(u"TLS: "_s + why);
    }
    context.lineTimeMsec = seconds(u"line-time"_s);
    context.transactionIdleMsec = seconds(u"transaction-idle"_s);
    bool mibOk = false;
    const int mib = parser.value(u"job-memory"_s).toInt(&mibOk);
    if (!mibOk || mib < 1 || mib > 1 << 20)
        fail(u"--job-memory expects MiB between 1 and 1048576"_s);
    context.jobMemoryBytes = qint64(mib) << 20;
    const bool copying = parser.isSet(u"copy-store"_s);
    if (copying != (parser.positionalArguments().size() == 1) || parser.positionalArguments().size() > 1)
        fail(u"--copy-store expects FROM TO; no other arguments"_s);
    const server::store::Store copyFrom =
        copying ? server::store::Store::parse(parser.value(u"copy-store"_s)) : server::store::Store();
    const server::store::Store copyTo =
        copying ? server::store::Store::parse(parser.positionalArguments().first()) : server::store::Store();
    QString dataOption = parser.value(u"data"_s);
    if (copying && !parser.isSet(u"data"_s))
        dataOption = copyFrom.postgres() ? copyTo.folder : copyFrom.folder;
    const QString dataDir = QDir(dataOption).absolutePath();
    if (!QDir().mkpath(dataDir))
        fail(u"cannot create the data folder "_s + dataDir);
    context.dataDir = dataDir;
    context.outputDir = dataDir + u"/output"_s;
    context.store = server::store::Store::parse(parser.isSet(u"store"_s) ? parser.value(u"store"_s) : dataDir);
    if (parser.isSet(u"store"_s) && !context.store.postgres())
        fail(u"--store expects a postgresql:// URI"_s);
    if (parser.isSet(u"exclusive-data"_s) && (context.store.postgres() || copying))
        fail(u"--exclusive-data is for serving the databases of a data folder"_s);
    context.store.exclusive = parser.isSet(u"exclusive-data"_s);
    context.batches =
        std::make_unique<server::BatchRunner>(context.store, context.dataDir, context.outputDir, workers);

    QStringList names = parser.values(u"namespace"_s);
    if (names.isEmpty())
        names << u"VARELO"_s;
    // The name becomes a file name: letters, digits and a few marks only.
    static const QRegularExpression validName(u"^[A-Za-z0-9_%-]{1,64}$"_s);
    for (const QString &name : std::as_const(names)) {
        if (!validName.match(name).hasMatch())
            fail(u"invalid namespace name '"_s + name + u"'"_s);
        if (context.findNamespace(name))
            continue;
        context.namespaces.append({name, context.store});
    }

    try {
        server::passwords::useKeyFile(dataDir + u"/password.key"_s);
    } catch (const factory::Error &e) {
        fail(e.description());
    }

    server::registerBuiltinClasses(context.registry);
    server::registerApplicationClasses(context.registry);

    if (copying) {
        try {
            server::runlog::presence::announce(copyTo);
        } catch (const factory::Error &e) {
            fail(e.description());
        }
        for (const server::store::Namespace &ns : std::as_const(context.namespaces)) {
            try {
                const qint64 rows = server::store::copyNamespace({ns.name, copyFrom}, {ns.name, copyTo},
                                                                 context.registry);
                server::log::line(u"varelo-server: namespace %1 copied from %2 to %3, %4 rows"_s.arg(
                    ns.name, copyFrom.describe(), copyTo.describe(), QString::number(rows)));
            } catch (const factory::Error &e) {
                fail(u"namespace "_s + ns.name + u": "_s + e.description());
            }
        }
        return 0;
    }

    try {
        server::runlog::presence::announce(context.store);
    } catch (const factory::Error &e) {
        fail(e.description());
    }

    for (const server::store::Namespace &ns : std::as_const(context.namespaces)) {
        try {
            server::store::prepare(ns, context.registry, seed, scale);
        } catch (const factory::Error &e) {
            fail(u"namespace "_s + ns.name + u": "_s + e.description());
        } catch (const std::exception &e) {
            fail(u"namespace "_s + ns.name + u": "_s + QString::fromUtf8(e.what()));
        } catch (...) {
            fail(u"namespace "_s + ns.name + u": unknown failure while preparing"_s);
        }
    }

    if (::pipe(g_signalPipe) != 0)
        fail(u"cannot create the signal pipe"_s);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    server::Server server(context);
    if (!server.listen(address, port))
        fail(u"cannot listen on "_s + listen + u": "_s + server.errorString());
    QString host = address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        host = u'[' + host + u']';
    if (context.tls)
        server::log::line(u"varelo-server: TLS only, certificate "_s
                          + factory::fingerprint(context.tls->localCertificate()));
    warnIfListeningUnencrypted(address, context.tls.has_value());
    server::log::line(u"varelo-server: listening on "_s + host + u':' + QString::number(server.serverPort()));

    const int status = app.exec();
    server::log::line(u"varelo-server: shutting down"_s);
    server.shutdown();
    context.batches->dropWaiting();
    if (!context.batches->waitAll(10000)) {
        // Runs still busy are recorded as cut off at the next start.
        server::log::line(u"varelo-server: batch runs still busy, leaving them"_s);
        std::fflush(stdout);
        std::_Exit(status);
    }
    for (const server::store::Namespace &ns : std::as_const(context.namespaces))
        server::store::release(ns);
    server::log::line(u"varelo-server: stopped"_s);
    return status;
}
