#include "tests/support/sessionfixture.h"

#include "factory/factory.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "signin/signin.h"

#include <QApplication>
#include <QDialog>
#include <QTest>

using namespace Qt::StringLiterals;

SessionFixture::SessionFixture(TestServer::Options options)
    : m_server(std::make_unique<TestServer>(std::move(options)))
{
    platform::setSettingsFolder(m_settings.path());
    signin::install();
    cacheapi::resetSession();
    cacheapi::setTerminateHandler([this] { endeCalled = true; });
}

SessionFixture::~SessionFixture()
{
    closeStrayWindows();
    cacheapi::resetSession();
    cacheapi::setTerminateHandler({});
    cacheapi::setRetryWaitHundredths(1000);
    m_probe.reset();
    m_server.reset();
    platform::setSettingsFolder({});
    platform::setCommandLine({});
}

bool SessionFixture::start(const QString &firma)
{
    if (!m_server->start())
        return false;
    cacheapi::ServerIP = m_server->host();
    cacheapi::Port = QString::number(m_server->port());
    cacheapi::Namespace = u"VARELO"_s;
    cacheapi::Firma = firma;
    cacheapi::Filiale = u"0"_s;
    cacheapi::Personalcode = u"ADM"_s;
    cacheapi::Passwort = firma == u"2" ? u"admin2"_s : u"admin"_s;
    cacheapi::Benutzer = u"ADM|Anna Adler"_s;
    // Tenants 1 and 2 have the demo administrator; for another one he signs in at tenant 1
    // and then works on it, as after a tenant choice in the main window.
    cacheapi::AnmeldeFirma = firma == u"2" ? firma : u"1"_s;
    cacheapi::BuildConnString();
    try {
        cacheapi::BeginServerWork();
        cacheapi::EndServerWork();
    } catch (const std::exception &e) {
        qWarning("SessionFixture: connecting failed: %s", e.what());
        return false;
    }
    return cacheapi::Factory && cacheapi::Factory->IsConnected();
}

factory::Factory &SessionFixture::probe()
{
    if (!m_probe || !m_probe->IsConnected()) { // anew after a server restart
        m_probe = std::make_unique<factory::Factory>();
        m_server->connect(*m_probe);
    }
    return *m_probe;
}

void closeStrayWindows()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    for (int i = 0; i < 20; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            break;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        modal->close();
        modal->hide();
        QCoreApplication::processEvents();
    }
    // Deleting one form may delete others it owns, so guard them all before the first delete.
    QList<QPointer<QWidget>> forms;
    for (QWidget *form : cacheapi::openForms())
        forms.append(form);
    for (auto it = forms.crbegin(); it != forms.crend(); ++it) {
        QPointer<QWidget> w(*it);
        if (w) {
            cacheapi::unregisterForm(w.data());
            delete w.data();
        }
    }
    QCoreApplication::processEvents();
}
