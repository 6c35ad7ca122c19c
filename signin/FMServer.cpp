#include "signin/FMServer.h"

#include "signin/fieldstyle.h"

#include "main/orvanta.h"
#include "platform/messagebox.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/connectionfields.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
const QString SettingsApp = u"Cache Login"_s;
const QString SettingsSection = u"Login"_s;
const QString Title = u"Anmeldung an Caché"_s;

cacheapi::ConnectionFields &fields() { return cacheapi::ConnectionFields::instance(); }

void trace(const QString &handler, const QString &step, const QString &detail = {}, int level = 40)
{
    cacheapi::Trace(u"FMServer."_s + handler, step, detail, level);
}

// Entry ids are kept in one byte, 255 meaning "no entry".
int entryIdFromServer(const QVariant &value)
{
    const QString text = factory::toText(value).trimmed();
    bool ok = false;
    const long long id = text.toLongLong(&ok);
    if (!ok || id < 0 || id > 255)
        throw factory::Error(6, u"Überlauf: Eintragsnummer '"_s + text + u"' liegt nicht zwischen 0 und 255"_s);
    return int(id);
}

QLineEdit *addField(QGridLayout *grid, int row, const QString &name, const QString &label, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    auto *caption = new QLabel(label, parent);
    caption->setBuddy(edit);
    grid->addWidget(caption, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}
} // namespace

using signin::setFieldEditable;

FMServer::FMServer(QWidget *parent) : QDialog(parent)
{
    setObjectName(u"FMServer"_s);
    setWindowTitle(u"VARELO Server"_s);

    auto *listLabel = new QLabel(u"Mögliche Server"_s, this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(u"ctList"_s);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({u"Nr"_s, u"Name"_s});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->resizeSection(0, 50);
    m_list->viewport()->installEventFilter(this);
    listLabel->setBuddy(m_list);

    auto *grid = new QGridLayout;
    m_serverIp = addField(grid, 0, u"BSERVERIP"_s, u"ServerIP:"_s, this);
    m_port = addField(grid, 1, u"BPORT"_s, u"Port:"_s, this);
    m_firma = addField(grid, 2, u"BFIRMA"_s, u"Firma:"_s, this);
    m_fil = addField(grid, 3, u"BFIL"_s, u"Filiale:"_s, this);
    m_wj = addField(grid, 4, u"BWJ"_s, u"WJ:"_s, this);
    m_namespace = addField(grid, 5, u"BNAMESPACE"_s, u"Namespace:"_s, this);

    m_edit = new QPushButton(u"Ändern"_s, this);
    m_edit->setObjectName(u"BUEdit"_s);
    m_edit->setCheckable(true);
    m_edit->setAutoDefault(false);
    m_back = new QPushButton(u"Zurück"_s, this);
    m_back->setObjectName(u"BUZurück"_s);
    m_back->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_edit);
    buttons->addStretch();
    buttons->addWidget(m_back);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(listLabel);
    layout->addWidget(m_list, 1);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    m_popup = new QMenu(u"HRechs"_s, this);
    m_popup->setObjectName(u"HRechts"_s);
    QAction *standard = m_popup->addAction(u"Eintrag als Standard"_s);
    standard->setObjectName(u"mRechts"_s);
    connect(standard, &QAction::triggered, this, [this] { mRechts_Click(0); });

    m_lock = new QTimer(this);
    m_lock->setObjectName(u"Lock"_s);
    m_lock->setInterval(60000);
    connect(m_lock, &QTimer::timeout, this, &FMServer::Lock_Timer);

    // The fields edit the session's working copy directly; the copy's changes show here.
    const auto bind = [this](QLineEdit *edit, void (cacheapi::ConnectionFields::*setter)(const QString &)) {
        connect(edit, &QLineEdit::textEdited, this, [setter](const QString &text) { (fields().*setter)(text); });
    };
    bind(m_serverIp, &cacheapi::ConnectionFields::setBSERVERIP);
    bind(m_port, &cacheapi::ConnectionFields::setBPORT);
    bind(m_firma, &cacheapi::ConnectionFields::setBFIRMA);
    bind(m_fil, &cacheapi::ConnectionFields::setBFIL);
    bind(m_namespace, &cacheapi::ConnectionFields::setBNAMESPACE);
    connect(&fields(), &cacheapi::ConnectionFields::changed, this, &FMServer::showFields);
    showFields();
    setEditing(false);
    setFieldEditable(m_wj, false);

    connect(m_list, &QTreeWidget::itemClicked, this, [this] { ctList_Click(); });
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { ctList_Click(); });
    connect(m_edit, &QPushButton::clicked, this, &FMServer::BUEdit_Click);
    connect(m_back, &QPushButton::clicked, this, &QWidget::hide);

    resize(360, 420);
    Form_Load();
    cacheapi::registerForm(this);
}

FMServer::~FMServer() { cacheapi::unregisterForm(this); }

int FMServer::CurrentId() const { return fields().CurrentId(); }

void FMServer::showFields()
{
    const auto show = [](QLineEdit *edit, const QString &value) {
        if (edit->text() != value)
            edit->setText(value);
    };
    show(m_serverIp, fields().BSERVERIP());
    show(m_port, fields().BPORT());
    show(m_firma, fields().BFIRMA());
    show(m_fil, fields().BFIL());
    show(m_wj, fields().BWJ());
    show(m_namespace, fields().BNAMESPACE());
}

void FMServer::setEditing(bool editing)
{
    m_editing = editing;
    m_edit->setChecked(editing);
    for (QLineEdit *edit : {m_port, m_serverIp, m_firma, m_fil, m_namespace})
        setFieldEditable(edit, editing);
}

void FMServer::Form_Load()
{
    orvanta::WindowposLaden(this, u"FMServer"_s);
    fields().setCurrentId(255);
    m_list->clear();
    loadEntries();
}

// The entries come from the server in use. Loaded while that cannot be reached (the
// connection retry shows this window), the list stays empty rather than adding an error box
// and a connection attempt of its own to the retry; it is filled when it is shown again
// with the server reachable.
void FMServer::loadEntries()
{
    trace(u"Form_Load"_s, u"Start"_s);
    if (!cacheapi::Factory || !cacheapi::Factory->IsConnected()) {
        trace(u"Form_Load"_s, u"Ende"_s);
        return;
    }
    try {
        cacheapi::BeginServerWork();
        if (cacheapi::Beendet)
            return;
        auto rs = cacheapi::Factory->ResultSet(u"VR.KassaSW"_s, u"ConnStrg"_s);
        rs->Execute({0, QString()});
        while (rs->Next()) {
            const QString row = factory::toText(rs->GetData(1)) + u";"_s + factory::toText(rs->GetData(2));
            auto *item = new QTreeWidgetItem(
                QStringList{cacheapi::Piece(row, u";"_s, 1), row.section(u';', 1)});
            item->setData(0, Qt::UserRole, row);
            m_list->addTopLevelItem(item);
        }
        cacheapi::CloseObject(rs);
        cacheapi::EndServerWork();
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, u"FMServer.Form_Load"_s);
        cacheapi::EndServerWork();
        trace(u"Form_Load"_s, u"Ende mit Fehler"_s);
        return;
    }
    trace(u"Form_Load"_s, u"Ende"_s);
}

void FMServer::ctList_Click()
{
    trace(u"ctList_Click"_s, u"Start"_s);
    QTreeWidgetItem *chosen = nullptr;
    for (int i = 0; i < m_list->topLevelItemCount() && !chosen; ++i)
        if (m_list->topLevelItem(i)->isSelected())
            chosen = m_list->topLevelItem(i);
    if (!chosen) {
        trace(u"ctList_Click"_s, u"Ende"_s);
        return;
    }
    try {
        cacheapi::BeginServerWork();
        if (cacheapi::Beendet)
            return;
        const QString id = cacheapi::Piece(chosen->data(0, Qt::UserRole).toString(), u";"_s, 1);
        auto entry = cacheapi::Factory->OpenId(u"VR.KassaSW"_s, id);
        fields().setBFIRMA(factory::toText(entry->get(u"Firma"_s)));
        fields().setBFIL(factory::toText(entry->get(u"FIL"_s)));
        fields().setBSERVERIP(factory::toText(entry->get(u"ip"_s)));
        fields().setBPORT(factory::toText(entry->get(u"PORT"_s)));
        fields().setBNAMESPACE(factory::toText(entry->get(u"NAMESPACE"_s)));
        fields().setCurrentId(entryIdFromServer(entry->get(u"sys_ID"_s)));
        cacheapi::CloseObject(entry);
        cacheapi::EndServerWork();
    } catch (const std::exception &e) {
        cacheapi::EndServerWork();
        cacheapi::CacheFehlermeldung(e, u"FMServer.ctList_Click Lade Verbindungsdaten"_s);
        trace(u"ctList_Click"_s, u"Ende mit Fehler"_s);
        return;
    }
    trace(u"ctList_Click"_s, u"Ende"_s);
}

bool FMServer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        trace(u"ctList_MouseDown"_s, u"Start"_s);
        if (mouse->button() == Qt::RightButton)
            m_popup->popup(mouse->globalPosition().toPoint());
        trace(u"ctList_MouseDown"_s, u"Ende"_s);
    }
    return QDialog::eventFilter(watched, event);
}

void FMServer::mRechts_Click(int index)
{
    const QString detail = QString::number(index);
    trace(u"mRechts_Click"_s, u"Start"_s, detail);
    if (index == 0)
        Sichern();
    else
        trace(u"mRechts_Click"_s, u"Programmierter Fehler Case"_s, detail, 0);
    trace(u"mRechts_Click"_s, u"Ende"_s, detail);
}

void FMServer::Sichern()
{
    trace(u"Sichern"_s, u"Start"_s);
    fields().setKeinDefaultEintrag(false);
    const auto save = [](const QString &key, const QString &value) {
        platform::SaveSetting(SettingsApp, SettingsSection, key, value);
    };
    save(u"ServerObjekt"_s, QString::number(fields().CurrentId()));
    save(u"Firma"_s, fields().BFIRMA());
    save(u"Filiale"_s, fields().BFIL());
    save(u"Server"_s, fields().BSERVERIP());
    save(u"Port"_s, fields().BPORT());
    save(u"Namespace"_s, fields().BNAMESPACE());
    trace(u"Sichern"_s, u"Ende"_s);
}

void FMServer::BUEdit_Click()
{
    trace(u"BUEdit_Click"_s, u"Start"_s);
    if (!m_editing) {
        const auto answer = platform::messageBox(this, u"Änderungen erlauben?"_s, platform::Buttons::YesNo,
                                                 platform::Icon::Question, Title);
        setEditing(answer == platform::Answer::Yes);
        trace(u"BUEdit_Click"_s, u"Ende"_s);
        return;
    }
    setEditing(false);
    const auto answer =
        platform::messageBox(this, u"Änderungen sichern?\r\nDer Eintrag wird am Standardserver gespeichert"_s,
                             platform::Buttons::YesNo, platform::Icon::Question, Title);
    if (answer == platform::Answer::Yes && !saveEntry()) {
        trace(u"BUEdit_Click"_s, u"Ende mit Fehler"_s);
        return;
    }
    if (cacheapi::Beendet)
        return;
    trace(u"BUEdit_Click"_s, u"Ende"_s);
}

bool FMServer::saveEntry()
{
    // The entry goes to the stored default server, whatever server is in use now.
    try {
        cacheapi::EndServerWork();
        cacheapi::DisconnectServer();
        cacheapi::LoadStoredSettings(true);
        if (cacheapi::Beendet)
            return true;
        cacheapi::BeginServerWork();
        if (cacheapi::Beendet)
            return true;
        auto entry = cacheapi::Factory->OpenId(u"VR.KassaSW"_s, QString::number(fields().CurrentId()));
        entry->set(u"Firma"_s, fields().BFIRMA());
        entry->set(u"FIL"_s, fields().BFIL());
        entry->set(u"ip"_s, fields().BSERVERIP());
        entry->set(u"PORT"_s, fields().BPORT());
        entry->set(u"NAMESPACE"_s, fields().BNAMESPACE());
        entry->set(u"Type"_s, 0);
        entry->sys_Save();
        cacheapi::CloseObject(entry);
    } catch (const std::exception &e) {
        cacheapi::EndServerWork();
        cacheapi::CacheFehlermeldung(e, u"FMServer.BUEdit_Click Sichern Verbindungsdaten"_s);
        return false;
    }
    cacheapi::EndServerWork();
    cacheapi::DisconnectServer();
    try {
        cacheapi::TakeDialogSettings(); // looks the user up over the new connection
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, u"FMServer.BUEdit_Click Sichern Verbindungsdaten"_s);
        return false;
    }
    return true;
}

void FMServer::Lock_Timer()
{
    trace(u"Lock_Timer"_s, u"Start/Ende"_s);
    cacheapi::DisconnectServer();
}

void FMServer::reject() { hide(); }

void FMServer::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_list->topLevelItemCount() == 0)
        loadEntries();
}
