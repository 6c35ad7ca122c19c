#include "tests/support/testserver.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTest>

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

TestServer::~TestServer() { stop(); }

QString TestServer::serverPath() { return QString::fromUtf8(VARELO_SERVER_PATH); }

QString TestServer::connectionString(const QString &ns) const
{
    return u"cn_iptcp:127.0.0.1["_s + QString::number(m_port) + u"]:"_s + ns;
}

bool TestServer::start()
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{u"--listen"_s, u"127.0.0.1:"_s + QString::number(m_port), u"--data"_s, m_dataDir};
    for (const QString &ns : m_options.namespaces)
        args << u"--namespace"_s << ns;
    if (m_options.seedDemo)
        args << u"--seed"_s << u"demo"_s << u"--scale"_s << QString::number(m_options.scale);
    m_process->start(serverPath(), args);
    if (!m_process->waitForStarted(10000)) {
        qWarning("varelo-server did not start: %s", qPrintable(m_process->errorString()));
        return false;
    }
    static const QRegularExpression listening(u"listening on [^:\\s]+:(\\d+)"_s);
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (!m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process->state() != QProcess::Running)
                break;
            continue;
        }
        m_log += QString::fromUtf8(m_process->readAll());
        const auto match = listening.match(m_log);
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            // Keep draining the server's log so its pipe never fills.
            QObject::connect(m_process.get(), &QProcess::readyRead, m_process.get(),
                             [this] { m_log += QString::fromUtf8(m_process->readAll()); });
            return true;
        }
    }
    qWarning("varelo-server did not come up: %s", qPrintable(m_log));
    return false;
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
