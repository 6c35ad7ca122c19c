#include "signin/FMPass.h"

#include "signin/FMServer.h"
#include "signin/locationlist.h"
#include "signin/passwordfield.h"
#include "signin/signin.h"

#include "main/orvanta.h"
#include "platform/messagebox.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/connectionfields.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>

using namespace Qt::StringLiterals;

namespace {
const QString SettingsApp = u"Cache Login"_s;
const QString SettingsSection = u"Login"_s;

cacheapi::ConnectionFields &fields() { return cacheapi::ConnectionFields::instance(); }

int px(int twips) { return twips / orvanta::twipsPerPixelX(); }
int py(int twips) { return twips / orvanta::twipsPerPixelY(); }

QLabel *label(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

QWidget *visibleMainWindow()
{
    const QList<QWidget *> forms = cacheapi::openForms();
    for (QWidget *w : forms)
        if (w->objectName() == u"FMStart" && w->isVisible())
            return w;
    return nullptr;
}
// Linked in whenever the dialog is: the session reaches the sign-in windows even where
// nobody called signin::install().
const bool installed = (signin::install(), true);
} // namespace

FMPass::FMPass(QWidget *parent) : QDialog(parent)
{
    setObjectName(u"FMPass"_s);
    setWindowTitle(u"VARELO Benutzeranmeldung"_s);

    // Laid out in place: BUSER has to sit below the visible client area.
    m_standort = new QComboBox(this);
    m_standort->setObjectName(u"co_standort"_s);
    m_passwort = new QLineEdit(this);
    m_passwort->setObjectName(u"BPASSWORT"_s);
    signin::showPasswordAsStars(m_passwort);
    m_passwort->setMaxLength(20);
    m_abbruch = new QPushButton(u"Abbruch"_s, this);
    m_abbruch->setObjectName(u"BUAusst"_s);
    m_server = new QPushButton(u"Server"_s, this);
    m_server->setObjectName(u"cmdServer"_s);
    m_anmelden = new QPushButton(u"Anmelden"_s, this);
    m_anmelden->setObjectName(u"BUSpeich"_s);
    m_anmelden->setDefault(true);
    m_user = new QLineEdit(this);
    m_user->setObjectName(u"BUSER"_s);
    m_user->setMaxLength(20);

    QLabel *standortLabel = label(u"Standort:"_s, m_standort, this);
    QLabel *passwortLabel = label(u"Varelo Passwort:"_s, m_passwort, this);
    QLabel *userLabel = label(u"für Kompatibilität mit Altprog!:"_s, m_user, this);

    setFixedSize(px(5520), py(1575));
    standortLabel->setGeometry(px(120), py(120), px(1560), py(315));
    m_standort->setGeometry(px(1740), py(105), px(3660), py(345));
    passwortLabel->setGeometry(px(120), py(600), px(1560), py(315));
    m_passwort->setGeometry(px(1740), py(585), px(3660), py(345));
    m_abbruch->setGeometry(px(120), py(1080), px(1650), py(375));
    m_server->setGeometry(px(1935), py(1080), px(1650), py(375));
    m_anmelden->setGeometry(px(3750), py(1080), px(1650), py(375));
    userLabel->setGeometry(px(120), py(1680), px(2400), py(315));
    m_user->setGeometry(px(2580), py(1680), px(2820), py(345));

    setTabOrder(m_standort, m_passwort);
    setTabOrder(m_passwort, m_abbruch);
    setTabOrder(m_abbruch, m_server);
    setTabOrder(m_server, m_anmelden);
    setTabOrder(m_anmelden, m_user);

    m_passwort->installEventFilter(this);
    m_user->installEventFilter(this);
    connect(m_passwort, &QLineEdit::textEdited, this, [](const QString &t) { fields().setBPASSWORT(t); });
    connect(m_user, &QLineEdit::textEdited, this, [](const QString &t) { fields().setBUSER(t); });
    connect(&fields(), &cacheapi::ConnectionFields::changed, this, &FMPass::showFields);
    showFields();

    connect(m_standort, &QComboBox::currentIndexChanged, this, &FMPass::co_standort_Click);
    connect(m_server, &QPushButton::clicked, this, &FMPass::cmdServer_Click);
    connect(m_anmelden, &QPushButton::clicked, this, &FMPass::BUSpeich_Click);
    connect(m_abbruch, &QPushButton::clicked, this, &FMPass::BUAusst_Click);

    m_passwort->setFocus(Qt::OtherFocusReason);
    Form_Load();
    // Registered after loading: an Ende during the load must not destroy a half-built window.
    cacheapi::registerForm(this);
}

FMPass::~FMPass() { cacheapi::unregisterForm(this); }

bool FMPass::KeinDefaultEintrag() const { return fields().KeinDefaultEintrag(); }

void FMPass::showFields()
{
    if (m_passwort->text() != fields().BPASSWORT())
        m_passwort->setText(fields().BPASSWORT());
    if (m_user->text() != fields().BUSER())
        m_user->setText(fields().BUSER());
}

void FMPass::Form_Load()
{
    const QString source = u"FMPass.Form_Load"_s;
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    QString station = platform::environmentVariable(u"CLIENTNAME"_s).toLower();
    if (station.isEmpty())
        station = platform::environmentVariable(u"COMPUTERNAME"_s).toLower();
    m_standort->clear();
    try {
        cacheapi::BeginServerWork();
        if (cacheapi::Beendet)
            return;
        auto menue = cacheapi::Factory->Static(u"RUZAVAVIR.Menue"_s);
        const QString list = factory::toText(menue->call(u"getStandorte"_s, {cacheapi::Firma}));
        const QString own = factory::toText(menue->call(u"getDeviceStandort"_s, {station}));
        cacheapi::Standort = own;
        cacheapi::GeraeteStandort = own;
        cacheapi::CloseObject(menue);
        cacheapi::EndServerWork();
        fillLocations(list);
    } catch (const std::exception &e) {
        // The dialog stays usable with an empty location list.
        m_standort->clear();
        cacheapi::CacheFehlermeldung(e, source);
        cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
        return;
    }
    cacheapi::Trace(source, u"Ende"_s, {}, 40);
}

void FMPass::fillLocations(const QString &list)
{
    const QList<signin::Location> locations = signin::parseLocations(list);
    {
        const QSignalBlocker blocker(m_standort);
        m_standort->clear();
        for (const signin::Location &l : locations)
            m_standort->addItem(l.text, l.code);
        m_standort->setCurrentIndex(-1);
    }
    for (int i = 0; i < m_standort->count(); ++i) {
        if (m_standort->itemData(i).toString() == cacheapi::Standort) {
            m_standort->setCurrentIndex(i);
            break;
        }
    }
}

void FMPass::co_standort_Click(int index)
{
    if (index < 0)
        return;
    cacheapi::Standort = m_standort->itemData(index).toString();
    cacheapi::StandortText = m_standort->itemText(index);
    try {
        cacheapi::BeginServerWork();
        cacheapi::EndServerWork();
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, u"FMPass.co_standort_Click"_s);
    }
}

bool FMPass::event(QEvent *event)
{
    const bool result = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate && !m_activating && isVisible())
        Form_Activate();
    return result;
}

void FMPass::Form_Activate()
{
    // Without a default server nobody signs in: closing the server list opened here makes
    // the dialog active again, and that activation brings the notice again, until a default
    // is stored ("Eintrag als Standard" works on an empty list too); then "Abbruch" and
    // "Anmelden" are reachable. The window system's own activation events for those returns
    // are left out, so the loop does not depend on when a platform delivers them.
    m_activating = true;
    const QString source = u"FMPass.Form_Activate"_s;
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    m_passwort->setFocus(Qt::ActiveWindowFocusReason);
    while (fields().KeinDefaultEintrag() && isVisible()) {
        platform::messageBox(this,
                             u"Es ist kein Standardserver festgelegt!"
                             u"Bitte wählen Sie aus der Liste die Firma in der Sie arbeiten (linke Maustaste Click)"
                             u" und bestätigen Sie mit der rechten Maustaste (Eintrag als Standard) speichern."_s,
                             platform::Buttons::Ok, platform::Icon::None, u"Standardserver?"_s);
        cacheapi::Trace(source, u"Kein Standardserver festgelegt"_s, {}, 50);
        QPointer<FMPass> self(this);
        cmdServer_Click();
        if (!self)
            return;
        if (cacheapi::Beendet) {
            m_activating = false;
            return;
        }
        m_passwort->setFocus(Qt::ActiveWindowFocusReason);
    }
    orvanta::WindowposLaden(this, u"FMPass"_s);
    cacheapi::Trace(source, u"Ende"_s, {}, 40);
    m_activating = false;
}

void FMPass::focusInEvent(QFocusEvent *event)
{
    QDialog::focusInEvent(event);
    m_passwort->setFocus(Qt::OtherFocusReason);
}

bool FMPass::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_passwort || watched == m_user) {
        auto *box = static_cast<QLineEdit *>(watched);
        if (event->type() == QEvent::FocusIn) {
            // After the line edit's own handling, which may place the cursor.
            const bool result = QDialog::eventFilter(watched, event);
            cacheapi::SelectAllText(box, true);
            return result;
        }
        if (event->type() == QEvent::FocusOut && box == m_user) {
            // ConvertText's upper case (no mode): "ß" stays, as in the personnel codes.
            const QString upper = cacheapi::ConvertText(m_user->text(), QString(), true);
            if (upper != m_user->text()) {
                m_user->setText(upper);
                fields().setBUSER(upper);
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FMPass::cmdServer_Click()
{
    cacheapi::Trace(u"FMPAss.cmdServer_Click"_s, u"Start/Ende"_s, {}, 40);
    signin::showServerWindowModal(this);
}

void FMPass::BUSpeich_Click()
{
    cacheapi::Trace(u"FMPass.BUSpeich_Click"_s, u"Start"_s, {}, 40);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QPointer<FMPass> self(this);
    // A fresh sign-in while the program runs is one for the tenant the main window shows.
    QWidget *main = visibleMainWindow();
    const QScopedValueRollback keepTenant(cacheapi::FirmaBleibt, cacheapi::FirmaBleibt || main != nullptr);
    try {
        cacheapi::TakeDialogSettings();
        platform::SaveSetting(SettingsApp, SettingsSection, u"Name"_s, m_user->text());
        platform::SaveSetting(SettingsApp, SettingsSection, u"Passwort"_s,
                              cacheapi::ScramblePassword(m_passwort->text()));
        if (main) {
            QPointer<QWidget> mainWindow(main);
            cacheapi::EndServerWork();
            cacheapi::DisconnectServer();
            cacheapi::user_anmeld();
            if (cacheapi::Beendet || !self) {
                QApplication::restoreOverrideCursor();
                return;
            }
            if (mainWindow) {
                QString caption = mainWindow->windowTitle();
                const qsizetype bracket = caption.indexOf(u'[');
                if (bracket >= 0)
                    caption = caption.left(bracket);
                caption = caption.left(caption.lastIndexOf(u':') + 1);
                mainWindow->setWindowTitle(caption + u" "_s + cacheapi::Benutzer);
            }
        }
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, u"FMPass.BUSpeich_Click"_s);
    }
    if (self)
        hide();
    QApplication::restoreOverrideCursor();
    cacheapi::Trace(u"FMPAss.BUSpeich_Click"_s, u"Ende"_s, {}, 40);
}

void signin::signInExit()
{
    cacheapi::Trace(u"FMPass.BuAusst_Click"_s, u"Start"_s, {}, 40);
    cacheapi::Benutzer.clear();
    cacheapi::Trace(u"FMPass.BuAusst_Click"_s, u"Ende End folgt"_s, {}, 0);
    cacheapi::Ende();
}

void FMPass::BUAusst_Click()
{
    // Ende destroys this dialog; nothing of it may be touched afterwards.
    signin::signInExit();
}

void FMPass::selectPassword() { cacheapi::SelectAllText(m_passwort, false); }

void FMPass::closeEvent(QCloseEvent *event)
{
    const QString source = u"FMPASS.Form_QueryUnload"_s;
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    if (!event->spontaneous() || cacheapi::Beendet) {
        event->accept();
        cacheapi::Trace(source, u"Ende"_s, {}, 40);
        return;
    }
    // Closed by the user from the window frame: the program ends.
    event->ignore();
    cacheapi::Trace(source, u"Programm Abbruch Ende es folgt End"_s, {}, 0);
    cacheapi::Ende();
}

void FMPass::reject() {}

void FMPass::Form_Unload()
{
    orvanta::WindowposSichern(this, u"FMPass"_s);
    if (!cacheapi::Beendet)
        cacheapi::Ende();
}
