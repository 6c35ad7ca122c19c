// varelo-cli as scripts use it: its output, its messages and its exit status.
#include "tests/support/testserver.h"

#include <QProcess>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_cli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verbs_data();
    void verbs();
    void serverErrors_data();
    void serverErrors();
    void openPrintsOnePropertyALine();
    void unreachableServer();
    void signsInWithUserAndPassword();
    void usageErrors_data();
    void usageErrors();

private:
    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    // password: VARELO_PASSWORD for the call; a null text leaves it unset.
    Result run(const QStringList &args, const QString &password = u"admin"_s);

    TestServer m_server;
};

tst_cli::Result tst_cli::run(const QStringList &args, const QString &password)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"VARELO_PASSWORD"_s);
    if (!password.isNull())
        env.insert(u"VARELO_PASSWORD"_s, password);
    p.setProcessEnvironment(env);
    p.start(QString::fromUtf8(VARELO_CLI_PATH), args);
    Result r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void tst_cli::initTestCase() { QVERIFY(m_server.start()); }

void tst_cli::verbs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("xecute") << QStringList{u"xecute"_s, uR"(W $P("a||b","||",2))"_s} << u"b\n"_s;
    QTest::newRow("xecute writing nothing") << QStringList{u"xecute"_s, u"S X=1"_s} << QString();
    QTest::newRow("xecute writing lines") << QStringList{u"xecute"_s, uR"(W "x",!,"y",!)"_s} << u"x\r\ny\r\n"_s; // M's new line, as written
    QTest::newRow("call") << QStringList{u"call"_s, u"orvanta.param"_s, u"GetMode"_s, u"1"_s} << u"server\n"_s;
    QTest::newRow("call, names in any case")
        << QStringList{u"call"_s, u"ruzavavir.menue"_s, u"GETSTANDORTE"_s, u"1"_s}
        << u"1 Zentrale`2 Filiale Nord`3 Lager Süd\n"_s;
    QTest::newRow("query") << QStringList{u"query"_s, u"orvanta.param"_s, u"list"_s}
                           << u"1\tOrvanta Handelsgesellschaft mbH\n2\tOrvanta Nord GmbH\n3\tOrvanta Süd KG\n"_s;
    QTest::newRow("query without hits") << QStringList{u"query"_s, u"VR.Windows"_s, u"KkrSuche"_s, u"1"_s, u"K"_s,
                                                       u"ZZZZZZ"_s}
                                        << QString();
}

void tst_cli::verbs()
{
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    const Result r = run(QStringList{u"--conn"_s, m_server.connectionString(), u"--user"_s, u"ADM"_s} + args);
    QCOMPARE(r.err, QString());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);
}

void tst_cli::serverErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("missing id") << QStringList{u"open"_s, u"VR.ParPersEdv"_s, u"1||NIEMAND"_s}
                                << u"Fehler 2006: "_s;
    QTest::newRow("unknown class") << QStringList{u"call"_s, u"VR.Nichts"_s, u"x"_s} << u"Fehler 2001: "_s;
    QTest::newRow("unknown query") << QStringList{u"query"_s, u"VR.Windows"_s, u"Nichts"_s} << u"Fehler 2004: "_s;
    QTest::newRow("M syntax") << QStringList{u"xecute"_s, u"W \"offen"_s} << u"Fehler 3"_s;
}

void tst_cli::serverErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, prefix);
    const Result r = run(QStringList{u"--conn="_s + m_server.connectionString(), u"--user=ADM"_s} + args);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith(prefix), qPrintable(r.err));
    QCOMPARE(r.out, QString());
}

void tst_cli::openPrintsOnePropertyALine()
{
    const Result open = run({u"--conn"_s, m_server.connectionString(), u"open"_s, u"VR.ParPersEdv"_s, u"1||ADM"_s});
    QCOMPARE(open.exitCode, 0);
    const QStringList lines = open.out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.contains(u"PNAME\tAnna Adler"_s), qPrintable(open.out));
    QVERIFY2(lines.contains(u"AKTIV\tJ"_s), qPrintable(open.out));
    QVERIFY2(lines.contains(u"Passwort\t"_s), qPrintable(open.out)); // open before a sign-in, and empty
    QCOMPARE(open.err, QString());
}

void tst_cli::unreachableServer()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    const Result r = run({u"--conn"_s, u"cn_iptcp:127.0.0.1[%1]:VARELO"_s.arg(port), u"xecute"_s, u"W 1"_s});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(!r.err.isEmpty());
}

void tst_cli::signsInWithUserAndPassword()
{
    const QStringList write{u"xecute"_s, u"S ^CLI=1"_s};
    const QStringList conn{u"--conn"_s, m_server.connectionString()};
    Result r = run(conn + write);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith(u"Fehler 1100: "_s), qPrintable(r.err));
    r = run(conn + QStringList{u"--user"_s, u"ADM"_s} + write, u"falsch"_s);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(u"abgelehnt"_s), qPrintable(r.err));
    // No terminal to ask on and no VARELO_PASSWORD.
    r = run(conn + QStringList{u"--user"_s, u"ADM"_s} + write, QString());
    QCOMPARE(r.exitCode, 64);
    // The code as typed; tenant 2 has a password of its own.
    r = run(conn + QStringList{u"--user"_s, u"adm"_s, u"--firma"_s, u"2"_s} + write, u"admin2"_s);
    QCOMPARE(r.err, QString());
    QCOMPARE(r.exitCode, 0);
}

void tst_cli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no verb") << QStringList{};
    QTest::newRow("unknown verb") << QStringList{u"delete"_s, u"x"_s};
    QTest::newRow("open without id") << QStringList{u"open"_s, u"VR.ParPersEdv"_s};
    QTest::newRow("xecute with two lines") << QStringList{u"xecute"_s, u"W 1"_s, u"W 2"_s};
    QTest::newRow("unknown option") << QStringList{u"--laut"_s, u"xecute"_s, u"W 1"_s};
    QTest::newRow("option without value") << QStringList{u"--conn"_s};
    QTest::newRow("malformed connection") << QStringList{u"--conn"_s, u"127.0.0.1:1973"_s, u"xecute"_s, u"W 1"_s};
}

void tst_cli::usageErrors()
{
    QFETCH(QStringList, args);
    const Result r = run(args);
    QCOMPARE(r.exitCode, 64);
    QVERIFY(!r.err.isEmpty());
    QCOMPARE(r.out, QString());
}

QTEST_GUILESS_MAIN(tst_cli)
#include "tst_cli.moc"
