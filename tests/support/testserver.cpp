#include "tests/support/testserver.h"

#include "factory/factory.h"
#include "factory/signin.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

TestServer::TestServer() : TestServer(Options{}) {}

TestServer::TestServer(Options options) : m_options(std::move(options))
{
    if (m_options.dataDir.isEmpty()) {
        m_tmp = std::make_unique<QTemporaryDir>();
        m_dataDir = m_tmp->path();
    } else {
        m_dataDir = m_options.dataDir;
    }
}

TestServer::~TestServer()
{
    stop();
    // A folder the test gave is the test's to clean up, its database with it.
    if (m_tmp && postgres())
        dropDatabase(storeUri());
}

namespace {
QString clusterUri() { return qEnvironmentVariable("VARELO_TEST_POSTGRES"); }

// A connection to the cluster's maintenance database, for the calling thread.
QSqlDatabase maintenance()
{
    const QString name = u"testserver-maintenance"_s;
    return QSqlDatabase::contains(name) ? QSqlDatabase::database(name) : TestServer::openDatabase(clusterUri(), name);
}

QString withDatabase(const QString &uri, const QString &database)
{
    QUrl url(uri);
    url.setPath(u'/' + database);
    return url.toString();
}
} // namespace

bool TestServer::postgres() { return !clusterUri().isEmpty(); }

bool TestServer::exclusiveData() { return !postgres() && qEnvironmentVariableIsSet("VARELO_TEST_EXCLUSIVE_DATA"); }

QSqlDatabase TestServer::openDatabase(const QString &uri, const QString &connectionName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, connectionName);
    const QUrl url(uri);
    db.setHostName(url.host());
    db.setPort(url.port());
    db.setUserName(url.userName());
    db.setDatabaseName(url.path().mid(1));
    if (!db.open())
        qWarning("PostgreSQL test cluster unreachable: %s", qPrintable(db.lastError().text()));
    return db;
}

QString TestServer::newDatabase()
{
    static int serial = 0;
    const QString name = u"t%1_%2_%3"_s.arg(QCoreApplication::applicationPid()).arg(++serial).arg(
        QRandomGenerator::global()->bounded(1000000));
    QSqlQuery q(maintenance());
    if (!q.exec(u"CREATE DATABASE \""_s + name + u"\" TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C'"_s))
        qWarning("CREATE DATABASE %s: %s", qPrintable(name), qPrintable(q.lastError().text()));
    return withDatabase(clusterUri(), name);
}

void TestServer::dropDatabase(const QString &uri)
{
    if (uri.isEmpty())
        return;
    const QString name = QUrl(uri).path().mid(1);
    QSqlQuery q(maintenance());
    if (!q.exec(u"DROP DATABASE IF EXISTS \""_s + name + u"\" WITH (FORCE)"_s))
        qWarning("DROP DATABASE %s: %s", qPrintable(name), qPrintable(q.lastError().text()));
}

QString TestServer::storeUri() const
{
    if (!postgres())
        return {};
    QFile file(m_dataDir + u"/test-store.uri"_s);
    if (file.open(QIODevice::ReadOnly))
        return QString::fromUtf8(file.readAll()).trimmed();
    const QString uri = newDatabase();
    if (file.open(QIODevice::WriteOnly))
        file.write(uri.toUtf8());
    return uri;
}

QString TestServer::serverPath() { return QString::fromUtf8(VARELO_SERVER_PATH); }

QString TestServer::connectionString(const QString &ns) const
{
    return u"cn_iptcp:127.0.0.1["_s + QString::number(m_port) + u"]:"_s + ns;
}

bool TestServer::connect(factory::Factory &f, const QString &ns) const
{
    return f.Connect(connectionString(ns)) && signIn(f);
}

bool TestServer::signIn(factory::Factory &f, const QString &tenant)
{
    return factory::checkPassword(f, adminPassword(tenant), tenant, u"ADM"_s) == u"ADM";
}

bool TestServer::start()
{
    m_process = std::make_unique<QProcess>();
    // The log goes to a file, never through a pipe: a test busy in a long synchronous loop
    // does not drain a pipe, and a full pipe would stall the server in mid-answer.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logPath(), QIODevice::Append);
    const qint64 logStart = QFileInfo(logPath()).size();
    QStringList args{u"--listen"_s, u"127.0.0.1:"_s + QString::number(m_port), u"--data"_s, m_dataDir};
    for (const QString &ns : m_options.namespaces)
        args << u"--namespace"_s << ns;
    if (m_options.seedDemo)
        args << u"--seed"_s << u"demo"_s << u"--scale"_s << QString::number(m_options.scale);
    if (m_options.tls) {
        if (m_certificates == 0 && !newCertificate())
            return false;
        const QString stem = m_logDir.filePath(u"server%1"_s.arg(m_certificates));
        args << u"--tls-cert"_s << stem + u".crt"_s << u"--tls-key"_s << stem + u".key"_s;
    }
    if (postgres())
        args << u"--store"_s << storeUri();
    if (exclusiveData())
        args << u"--exclusive-data"_s;
    args << m_options.extraArgs;
    // A test that aborts takes its server with it, rather than leave it running on.
    const rlim_t limit = rlim_t(m_options.fileLimit);
    m_process->setChildProcessModifier([limit] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (limit > 0) {
            const rlimit both{limit, limit};
            ::setrlimit(RLIMIT_NOFILE, &both);
        }
    });
    m_process->start(serverPath(), args);
    if (!m_process->waitForStarted(10000)) {
        qWarning("varelo-server did not start: %s", qPrintable(m_process->errorString()));
        return false;
    }
    static const QRegularExpression listening(u"listening on [^:\\s]+:(\\d+)"_s);
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        const auto match = listening.match(logSince(logStart));
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
        m_process->waitForFinished(20); // a short sleep that ends early should it die
    }
    qWarning("varelo-server did not come up: %s", qPrintable(logSince(logStart)));
    return false;
}

qint64 TestServer::pid() const { return m_process ? m_process->processId() : 0; }

bool TestServer::newCertificate()
{
    const QString stem = m_logDir.filePath(u"server%1"_s.arg(m_certificates + 1));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                                 u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s,
                                 u"/CN=varelo-test"_s, u"-keyout"_s, stem + u".key"_s, u"-out"_s, stem + u".crt"_s});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        qWarning("openssl could not make a certificate: %s", openssl.readAll().constData());
        return false;
    }
    ++m_certificates;
    return true;
}

QString TestServer::fingerprint() const
{
    static const QRegularExpression shown(u"TLS only, certificate (SHA256:[0-9A-F:]+)"_s);
    const QRegularExpressionMatchIterator all = shown.globalMatch(log());
    QString last;
    for (auto it = all; it.hasNext();)
        last = it.next().captured(1);
    return last;
}

QString TestServer::logPath() const { return m_logDir.filePath(u"varelo-server.log"_s); }

QString TestServer::logSince(qint64 offset) const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return {};
    return QString::fromUtf8(file.readAll());
}

void TestServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

void TestServer::kill()
{
    if (!m_process)
        return;
    m_process->kill();
    m_process->waitForFinished(5000);
    m_process.reset();
}

bool TestServer::restart()
{
    stop();
    m_options.seedDemo = false;
    return start();
}
