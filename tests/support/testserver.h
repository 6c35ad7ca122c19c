#pragma once
// A real varelo-server for one test: its own data folder, a free loopback port,
// demo data seeded on start. Stopped (and its folder removed) with the object.

#include <QProcess>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace factory { class Factory; }

class TestServer
{
public:
    struct Options
    {
        bool seedDemo = true;
        int scale = 1;
        QStringList namespaces = {QStringLiteral("VARELO")};
        QString dataDir; // empty: a fresh temporary folder
        bool tls = false;       // serve TLS only, with a certificate made for the test (openssl)
        QStringList extraArgs;  // further varelo-server options, e.g. "--batch-workers", "1"
        int fileLimit = 0;      // > 0: the server's limit of open file descriptors
    };
    TestServer();
    explicit TestServer(Options options);
    ~TestServer();

    bool start();   // false (with a test warning) when the server did not come up within 30 s
    void stop();    // terminate and wait
    void kill();    // SIGKILL, as a crash would
    bool restart(); // same data folder, same port where possible

    quint16 port() const { return m_port; }
    qint64 pid() const;
    // With tls: a fresh certificate for the next start; false when openssl fails.
    bool newCertificate();
    // "SHA256:…" of the certificate the running server shows ("" without TLS).
    QString fingerprint() const;
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString dataDir() const { return m_dataDir; }
    // "cn_iptcp:127.0.0.1[port]:NAMESPACE"
    QString connectionString(const QString &ns = QStringLiteral("VARELO")) const;
    // Connects f and signs it in as the demo administrator of tenant 1 (ADM, "admin"), as
    // every client does before it works; false when either failed.
    bool connect(factory::Factory &f, const QString &ns = QStringLiteral("VARELO")) const;
    // Signs an already connected factory in as the demo administrator of the tenant.
    static bool signIn(factory::Factory &f, const QString &tenant = QStringLiteral("1"));
    static QString adminPassword(const QString &tenant) { return tenant == u"2" ? QStringLiteral("admin2") : QStringLiteral("admin"); }

    // VARELO_TEST_POSTGRES names a PostgreSQL cluster (tests/support/with-postgres): then every
    // data folder gets a database of its own there (kept with the folder, dropped with the
    // object when the folder is the fixture's), and the server runs on it with --store.
    static bool postgres();
    // VARELO_TEST_EXCLUSIVE_DATA set: SQLite servers run with --exclusive-data.
    static bool exclusiveData();
    // The --store of this server's data folder on that cluster ("" without one).
    QString storeUri() const;
    // A fresh, empty database on the cluster; the caller drops it with dropDatabase.
    static QString newDatabase();
    // A connection to a database of the cluster (as newDatabase or storeUri name it), opened.
    static QSqlDatabase openDatabase(const QString &uri, const QString &connectionName);
    static void dropDatabase(const QString &uri);

    // Everything the server printed since the object was made.
    QString log() const { return logSince(0); }
    static QString serverPath();

private:
    Options m_options;
    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<QProcess> m_process;
    QString m_dataDir;
    quint16 m_port = 0;
    QTemporaryDir m_logDir;
    int m_certificates = 0;

    QString logPath() const;
    QString logSince(qint64 offset) const;
};
