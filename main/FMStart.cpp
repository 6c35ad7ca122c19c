#include "main/FMStart.h"

#include "editors/FMAtyp.h"
#include "editors/FMParam.h"
#include "editors/FMWargr.h"
#include "editors/fmkund.h"
#include "editors/fmlieferant.h"
#include "editors/linefeedcombobox.h"
#include "main/FMStapel.h"
#include "main/appresources.h"
#include "main/batchruns.h"
#include "main/fmbmecat.h"
#include "main/frmAbout.h"
#include "main/jobs.h"
#include "main/orvanta.h"
#include "platform/messagebox.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/frmProgrammverlauf.h"
#include "signin/signin.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
const QString Source = u"FMStart."_s;

void trace(const QString &handler, const QString &step) { cacheapi::Trace(Source + handler, step, QString(), 40); }

factory::Factory &session()
{
    if (!cacheapi::Factory)
        throw factory::Error(factory::ErrorCode::NotConnected, u"Keine Verbindung zum Server"_s);
    return *cacheapi::Factory;
}

QString askMode(const QString &firma)
{
    factory::ClassObjectPtr param = session().Static(u"orvanta.param"_s);
    const QString mode = factory::toText(param->call(u"GetMode"_s, {firma}));
    cacheapi::CloseObject(param);
    return mode;
}

// Tenant number of a combo item: the number before the first line feed, as a plain decimal.
QString tenantOfItem(const QString &itemText)
{
    return factory::toText(factory::toNumber(itemText.section(u'\n', 0, 0)));
}

QPushButton *jobButton(const QString &name, const QString &caption, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

// Reports a failure the way every handler does; the window stays usable.
template <class F> bool guarded(const QString &handler, F &&work)
{
    try {
        work();
        return true;
    } catch (const factory::Error &e) {
        cacheapi::CacheFehlermeldung(e, Source + handler);
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, Source + handler);
    }
    trace(handler, u"Ende mit Fehler"_s);
    return false;
}
} // namespace

FMStart::FMStart(QWidget *parent) : QMainWindow(parent)
{
    orvanta::ensureResources();
    setObjectName(u"FMStart"_s);
    setWindowTitle(u"VARELO"_s);
    setWindowIcon(QIcon(u":/orvanta/icon.png"_s));
    cacheapi::registerForm(this);

    auto *central = new QWidget(this);
    auto *outer = new QVBoxLayout(central);

    auto *tenantRow = new QHBoxLayout;
    tenantRow->addStretch();
    m_Label1 = new QLabel(u"Mandant:"_s, central);
    m_Label1->setObjectName(u"Label1"_s);
    // Items are "number\nname"; shown side by side on one line.
    m_limandant = new editors::choice::LineFeedComboBox(central);
    m_limandant->setObjectName(u"limandant"_s);
    m_limandant->setMinimumWidth(260);
    m_Label1->setBuddy(m_limandant);
    tenantRow->addWidget(m_Label1);
    tenantRow->addWidget(m_limandant);
    outer->addLayout(tenantRow);

    m_frserver = new QGroupBox(u"Lokaler Server"_s, central);
    m_frserver->setObjectName(u"frserver"_s);
    auto *serverBox = new QVBoxLayout(m_frserver);
    m_BUArtikel = jobButton(u"BUArtikel"_s, orvanta::batchruns::jobCaption(u"genartikel"_s), m_frserver);
    m_BUKond = jobButton(u"BUKond"_s, orvanta::batchruns::jobCaption(u"genkond"_s), m_frserver);
    m_BUFrei = jobButton(u"BUFrei"_s, orvanta::batchruns::jobCaption(u"freischalten"_s), m_frserver);
    serverBox->addWidget(m_BUArtikel);
    serverBox->addWidget(m_BUKond);
    serverBox->addWidget(m_BUFrei);
    outer->addWidget(m_frserver);

    m_frftp = new QGroupBox(u"ftp Server Orvanta"_s, central);
    m_frftp->setObjectName(u"frftp"_s);
    auto *ftpBox = new QVBoxLayout(m_frftp);
    m_BUftpaufbau = jobButton(u"BUftpaufbau"_s, orvanta::batchruns::jobCaption(u"ftpaufbau"_s), m_frftp);
    ftpBox->addWidget(m_BUftpaufbau);
    outer->addWidget(m_frftp);

    m_BUBmecat = jobButton(u"BUBmecat"_s, orvanta::batchruns::jobCaption(u"bmecat"_s), central);
    outer->addWidget(m_BUBmecat);
    outer->addStretch();
    setCentralWidget(central);

    buildMenus();
    buildToolbar();
    clearStatusOnNextAction();
    resize(640, 400);

    connect(m_limandant, &QComboBox::activated, this, &FMStart::limandant_ItemSelected);
    connect(m_limandant, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            limandant_Click();
    });
    connect(m_BUArtikel, &QPushButton::clicked, this, &FMStart::BUArtikel_Click);
    connect(m_BUKond, &QPushButton::clicked, this, &FMStart::BUKond_Click);
    connect(m_BUFrei, &QPushButton::clicked, this, &FMStart::BUFrei_Click);
    connect(m_BUftpaufbau, &QPushButton::clicked, this, &FMStart::BUftpaufbau_Click);
    connect(m_BUBmecat, &QPushButton::clicked, this, &FMStart::BUBmecat_Click);
    applyMode(Parameter);
}

FMStart::~FMStart() { cacheapi::unregisterForm(this); }

void FMStart::buildMenus()
{
    auto action = [this](QMenu *menu, const QString &name, const QString &text, const QKeySequence &key) {
        QAction *a = menu->addAction(text);
        a->setObjectName(name);
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WindowShortcut);
            addAction(a); // reachable from every control of the window
        }
        return a;
    };
    QMenu *datei = menuBar()->addMenu(u"&Datei"_s);
    datei->setObjectName(u"mDatei"_s);
    connect(action(datei, u"mLogin"_s, u"&Login"_s, {}), &QAction::triggered, this, &FMStart::mLogin_Click);
    connect(action(datei, u"mStapel"_s, u"Stapel&läufe"_s, QKeySequence(Qt::CTRL | Qt::Key_L)), &QAction::triggered,
            this, &FMStart::mStapel_Click);
    datei->addSeparator();
    connect(action(datei, u"Beenden"_s, u"&Beenden"_s, {}), &QAction::triggered, this, &FMStart::Beenden_Click);

    QMenu *hilfe = menuBar()->addMenu(u"&Hilfe"_s);
    hilfe->setObjectName(u"mHilfe"_s);
    connect(action(hilfe, u"HilfeUeber"_s, u"Hilfe &über ..."_s, QKeySequence(Qt::Key_F1)), &QAction::triggered,
            this, &FMStart::HilfeUeber_Click);
    connect(action(hilfe, u"mProgrammverlauf"_s, u"Programmverlauf"_s, QKeySequence(Qt::CTRL | Qt::Key_F1)),
            &QAction::triggered, this, &FMStart::mProgrammverlauf_Click);
}

void FMStart::buildToolbar()
{
    m_tool1 = addToolBar(u"tool1"_s);
    m_tool1->setObjectName(u"tool1"_s);
    m_tool1->setMovable(false);
    m_tool1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const QStringList captions = {u"Warengruppen"_s, u"Artikeltypen"_s, u"Kunden"_s,
                                  u"Negativliste Lieferanten"_s, u"Parameter"_s, u"Beenden"_s, u"Stapelläufe"_s};
    for (int i = 0; i < captions.size(); ++i) {
        QAction *a = m_tool1->addAction(captions[i]);
        a->setObjectName(u"tool1_"_s + QString::number(i + 1));
        a->setToolTip(captions[i]);
        const int number = i + 1;
        connect(a, &QAction::triggered, this, [this, number] { tool1_ButtonClick(number); });
        m_toolButtons.append(a);
    }
}

QAction *FMStart::toolButton(int number) const
{
    return number >= 1 && number <= m_toolButtons.size() ? m_toolButtons[number - 1] : nullptr;
}

QString FMStart::signedInCaption()
{
    return u"VARELO Orvanta Web             Firma: "_s + cacheapi::Firma + u"     Filiale: "_s + cacheapi::Filiale +
           u"     Benutzer: "_s + cacheapi::Benutzer;
}

bool FMStart::Form_Load()
{
    QPointer<FMStart> self(this);
    trace(u"Form_Load"_s, u"Start"_s);
    // Only the first pass may take the command line: a refused command-line sign-in must
    // fall back to the sign-in dialog instead of repeating the same values for ever.
    bool firstPass = true;
    for (;;) {
        cacheapi::Kommandozeile.clear();
        const QString line = platform::commandLine();
        if (firstPass && line.contains(u' '))
            cacheapi::Kommandozeile = line;
        firstPass = false;
        cacheapi::DialogPflicht = true;
        if (cacheapi::user_anmeld())
            break;
        if (cacheapi::Beendet || !self)
            return false;
    }
    if (cacheapi::Beendet || !self)
        return false;

    setWindowTitle(signedInCaption());
    orvanta::WindowposLaden(this, u"FMOrvanta"_s);
    const bool ok = guarded(u"Form_Load"_s, [this] {
        cacheapi::BeginServerWork(false, false);
        fillTenants();
        orvanta::Modus = askMode(cacheapi::Firma);
        applyMode(Parameter);
        cacheapi::EndServerWork(false);
    });
    if (!ok) {
        orvanta::Modus.clear();
        applyMode(Parameter);
        return true;
    }
    trace(u"Form_Load"_s, u"Ende"_s);
    return true;
}

void FMStart::fillTenants()
{
    factory::ResultSetPtr list = session().ResultSet(u"orvanta.param"_s, u"list"_s);
    list->Execute({QString()});
    m_filling = true;
    m_limandant->clear();
    // Compared as numbers ("01" is tenant 1); a tenant the list lacks leaves no selection.
    const double firma = factory::toNumber(cacheapi::Firma);
    int chosen = -1;
    try {
        while (list->Next()) {
            const QVariant number = list->GetData(1);
            m_limandant->addItem(factory::toText(number) + u'\n' + factory::toText(list->GetData(2)));
            if (factory::toNumber(number) == firma)
                chosen = m_limandant->count() - 1;
        }
        // Set once the list is whole: the combo selects its first item on its own.
        m_limandant->setCurrentIndex(chosen);
    } catch (...) {
        m_filling = false;
        throw;
    }
    m_filling = false;
    list->Close();
}

void FMStart::applyMode(int toolButtonNumber)
{
    const bool server = orvanta::Modus == u"server"_s;
    const bool ftp = orvanta::Modus == u"ftp"_s;
    m_frserver->setEnabled(server);
    m_BUArtikel->setEnabled(server);
    m_BUKond->setEnabled(server);
    m_BUFrei->setEnabled(server);
    if (QAction *b = toolButton(toolButtonNumber))
        b->setEnabled(server);
    m_frftp->setEnabled(ftp);
    m_BUftpaufbau->setEnabled(ftp);
}

void FMStart::limandant_ItemSelected(int index)
{
    // A pick in the list also changes the current item; that notification applied it already.
    if (index == m_justSelected)
        return;
    selectTenant(index, u"limandant_ItemSelected"_s);
}

void FMStart::limandant_Click()
{
    const int index = m_limandant->currentIndex();
    selectTenant(index, u"limandant_Click"_s);
    m_justSelected = index;
    QTimer::singleShot(0, this, [this] { m_justSelected = -1; });
}

void FMStart::selectTenant(int index, const QString &handler)
{
    if (index < 0 || index >= m_limandant->count())
        return;
    trace(handler, u"Start"_s);
    const bool ok = guarded(handler, [this, index] {
        cacheapi::Firma = tenantOfItem(m_limandant->itemText(index));
        // Connects again if the connection has gone, as every other server step does.
        cacheapi::BeginServerWork(false, false);
        orvanta::Modus = askMode(cacheapi::Firma);
        // The server job keeps the tenant of the sign-in; jobs that take no tenant argument
        // (the file build) must run for the tenant chosen here.
        factory::ClassObjectPtr windows = session().Static(u"VR.Windows"_s);
        const QString line = u"S FIRMA="_s + cacheapi::Firma + u",FIL="_s + cacheapi::Filiale + u",PERSONAL=\""_s +
                             cacheapi::Personalcode + u"\""_s;
        windows->call(u"Xecute"_s, {line});
        cacheapi::CloseObject(windows);
        applyMode(Parameter);
        cacheapi::EndServerWork(false);
    });
    if (ok) {
        trace(handler, u"Ende"_s);
        return;
    }
    // The tenant's mode is unknown now: no job of either mode until it is chosen again.
    orvanta::Modus.clear();
    applyMode(Parameter);
}

bool FMStart::runFrameJob(QPushButton *button, const QString &handler, const std::function<void()> &job)
{
    trace(handler, u"Start"_s);
    bool pointerSet = false;
    auto normalPointer = [&pointerSet] {
        if (pointerSet)
            QGuiApplication::restoreOverrideCursor();
        pointerSet = false;
    };
    // Enabled again as the mode says: a tenant switch during the run may have changed it.
    auto buttonBack = [this, button] { button->setEnabled(orvanta::Modus == u"server"_s); };
    const bool ok = guarded(handler, [&] {
        try {
            cacheapi::BeginServerWork(false, false);
            button->setEnabled(false);
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            pointerSet = true;
            QCoreApplication::processEvents();
            job();
            buttonBack();
            normalPointer();
            QCoreApplication::processEvents();
            cacheapi::EndServerWork(false);
        } catch (...) {
            normalPointer();
            buttonBack();
            throw;
        }
    });
    if (ok)
        trace(handler, u"Ende"_s);
    return ok;
}

void FMStart::announceJob(const QString &caption)
{
    statusBar()->showMessage(u"Stapellauf gestartet: "_s + caption + u" – Details unter Datei › Stapelläufe"_s);
    if (FMStapel *monitor = cacheapi::formIfLoaded<FMStapel>())
        monitor->refreshSoon();
}

void FMStart::clearStatusOnNextAction()
{
    auto clear = [this] { statusBar()->clearMessage(); };
    for (QPushButton *b : {m_BUArtikel, m_BUKond, m_BUFrei, m_BUftpaufbau, m_BUBmecat})
        connect(b, &QPushButton::pressed, this, clear);
    connect(m_tool1, &QToolBar::actionTriggered, this, clear);
    for (QMenu *menu : menuBar()->findChildren<QMenu *>())
        connect(menu, &QMenu::triggered, this, clear);
    connect(m_limandant, &QComboBox::activated, this, clear);
}

void FMStart::BUArtikel_Click()
{
    if (runFrameJob(m_BUArtikel, u"BUArtikel_Click"_s, [] { orvanta::jobs::stapelaufbauArtikel(); }))
        announceJob(m_BUArtikel->text());
}

void FMStart::BUKond_Click()
{
    if (runFrameJob(m_BUKond, u"BUKond_Click"_s, [] { orvanta::jobs::stapelaufbauKonditionen(); }))
        announceJob(m_BUKond->text());
}

void FMStart::BUFrei_Click()
{
    // The release runs on the main server also when the gateway cannot be reached.
    if (runFrameJob(m_BUFrei, u"BUFrei_Click"_s, [this] {
        if (orvanta::jobs::freischalten() == orvanta::jobs::GatewayOutcome::Unreachable)
            platform::messageBox(this, u"Verbindung zu Gateway-Server nicht möglich"_s, platform::Buttons::Ok,
                                 platform::Icon::Critical, QString());
    }))
        announceJob(m_BUFrei->text());
}

void FMStart::BUftpaufbau_Click()
{
    const QString handler = u"BUftpaufbau_Click"_s;
    trace(handler, u"Start"_s);
    bool started = false;
    const bool ok = guarded(handler, [this, &started] {
        cacheapi::BeginServerWork(false, false);
        const QString title = u"ftp-Aufbau/Übertragung"_s;
        started = orvanta::jobs::ftpaufbau();
        if (started)
            platform::messageBox(this, u"Aufbau wurde gestartet, Ergebnis wird per E-Mail zugestellt"_s,
                                 platform::Buttons::Ok, platform::Icon::Information, title);
        else
            platform::messageBox(this, u"Aufbau konnte nicht gestertet werden"_s, platform::Buttons::Ok,
                                 platform::Icon::Critical, title);
        cacheapi::EndServerWork(false);
    });
    if (ok)
        trace(handler, u"Ende"_s);
    if (ok && started)
        announceJob(m_BUftpaufbau->text());
}

template <class T> void FMStart::showEditor()
{
    QPointer<T> window = cacheapi::form<T>();
    window->setParent(this, Qt::Dialog | window->windowFlags());
    window->exec();
    if (window)
        cacheapi::Unload(window.data());
}

void FMStart::BUBmecat_Click()
{
    connect(cacheapi::form<fmbmecat>(), &fmbmecat::jobStarted, this, [this] { announceJob(m_BUBmecat->text()); });
    showEditor<fmbmecat>();
}

void FMStart::tool1_ButtonClick(int number)
{
    switch (number) {
    case Warengruppen: showEditor<FMWargr>(); break;
    case Artikeltypen: showEditor<FMAtyp>(); break;
    case Kunden: showEditor<fmkund>(); break;
    case Negativliste: showEditor<fmlieferant>(); break;
    case Parameter: showEditor<FMParam>(); break;
    case Beenden: unloadLater(); break;
    case Stapellaeufe: mStapel_Click(); break;
    default: break;
    }
}

void FMStart::mLogin_Click() { signin::showSignInDialog(this); }

void FMStart::mStapel_Click() { FMStapel::showFor(this); }

void FMStart::Beenden_Click() { unloadLater(); }

void FMStart::HilfeUeber_Click()
{
    frmAbout *about = cacheapi::form<frmAbout>();
    if (about->parentWidget() != this)
        about->setParent(this, about->windowFlags());
    about->show();
    about->raise();
    about->activateWindow();
}

void FMStart::mProgrammverlauf_Click()
{
    auto *history = cacheapi::form<cacheapi::frmProgrammverlauf>();
    if (history->parentWidget() != this)
        history->setParent(this, Qt::Window | history->windowFlags());
    history->show();
    history->raise();
}

void FMStart::unloadLater()
{
    // Unloading destroys this window: never from inside one of its own handlers.
    QTimer::singleShot(0, this, [this] { cacheapi::Unload(this); });
}

void FMStart::closeEvent(QCloseEvent *event)
{
    event->ignore();
    unloadLater();
}

void FMStart::Form_Unload()
{
    orvanta::WindowposSichern(this, u"FMOrvanta"_s);
    cacheapi::DisconnectServer();
    cacheapi::Ende();
}
