#include "main/frmAbout.h"

#include "main/appresources.h"
#include "main/sysinfo.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace orvanta {
QString appTitle() { return u"Orvanta Web Admin"_s; }

QString versionText()
{
    return QString::number(ORVANTA_VERSION_MAJOR) + u'.' + QString::number(ORVANTA_VERSION_MINOR) + u'.' +
           QString::number(ORVANTA_VERSION_PATCH);
}
} // namespace orvanta

namespace {
// The box was laid out in twips; 15 twips make a pixel at 96 dpi.
constexpr int px(int twips) { return twips / 15; }

QLabel *fixedLabel(QWidget *parent, const QString &text, int x, int y, int w)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, w, 20);
    return label;
}

QLabel *picture(QWidget *parent, const QString &name, const QString &resource, QRect where)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(QPixmap(resource).scaled(where.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    label->setGeometry(where);
    return label;
}

QLabel *link(QWidget *parent, const QString &name, const QString &href, const QString &text)
{
    auto *label = new QLabel(u"<a href=\""_s + href + u"\">"_s + text.toHtmlEscaped() + u"</a>"_s, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(true);
    label->setToolTip(href);
    return label;
}
} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    orvanta::ensureResources();
    setObjectName(u"frmAbout"_s);
    setWindowTitle(u"Info zu meiner Anwendung"_s);
    setFixedSize(px(8250), px(3795));
    cacheapi::registerForm(this);

    const int labelX = px(1080), valueX = px(2500), valueW = px(7300) - valueX;
    picture(this, u"picIcon"_s, u":/orvanta/icon.png"_s, QRect(px(240), px(240), 32, 32));

    fixedLabel(this, u"Produktname"_s, labelX, px(240), valueX - labelX);
    m_lblTitle = new QLabel(this);
    m_lblTitle->setObjectName(u"lblTitle"_s);
    QFont titleFont = m_lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    m_lblTitle->setFont(titleFont);
    m_lblTitle->setGeometry(valueX, px(180), valueW, 30);

    fixedLabel(this, u"Version "_s, labelX, px(840), valueX - labelX);
    m_lblVersion = new QLabel(this);
    m_lblVersion->setObjectName(u"lblVersion"_s);
    m_lblVersion->setGeometry(valueX, px(840), valueW, 20);

    fixedLabel(this, u"Copyright ©"_s, labelX, px(1200), valueX - labelX);
    QLabel *mail = link(this, u"ctHyperLink1"_s, u"mailto:kira.hansen@orvanta-web.example"_s,
                        u"2026 Orvanta Software, Kira Hansen"_s);
    mail->setGeometry(valueX, px(1200), valueW, 20);

    fixedLabel(this, u"Beschreibung"_s, labelX, px(1560), valueX - labelX);
    m_lblDescription = new QLabel(u"Beschreibung"_s, this);
    m_lblDescription->setObjectName(u"lblDescription"_s);
    m_lblDescription->setGeometry(valueX, px(1560), valueW, 20);

    fixedLabel(this, u"Erstellt am xx.xx.'xx Letzte Korrektur xx.xx.'xx"_s, labelX, px(2160), px(7300) - labelX);

    // Etched rule: a grey line with a white one below it.
    auto *grey = new QFrame(this);
    grey->setGeometry(px(120), px(2640), px(7300) - px(120), 1);
    grey->setStyleSheet(u"background-color: #808080;"_s);
    auto *white = new QFrame(this);
    white->setGeometry(px(120), px(2640) + 1, px(7300) - px(120), 1);
    white->setStyleSheet(u"background-color: #ffffff;"_s);

    m_cmdOK = new QPushButton(u"OK"_s, this);
    m_cmdOK->setObjectName(u"cmdOK"_s);
    m_cmdOK->setDefault(true);
    m_cmdOK->setAutoDefault(true);
    m_cmdOK->setGeometry(px(5760), px(2760), px(1455), px(375));
    m_cmdSysInfo = new QPushButton(u"&Systeminfo..."_s, this);
    m_cmdSysInfo->setObjectName(u"cmdSysInfo"_s);
    m_cmdSysInfo->setAutoDefault(false);
    m_cmdSysInfo->setGeometry(px(5760), px(3210), px(1455), px(375));

    picture(this, u"Image1"_s, u":/orvanta/logo.png"_s, QRect(px(240), px(2880), 150, 40));
    QLabel *web = link(this, u"ctHyperLink2"_s, u"https://www.orvanta-web.example"_s, u"www.orvanta-web.example"_s);
    web->setGeometry(px(240) + 156, px(2880) + 10, px(5600) - px(240) - 156, 20);
    picture(this, u"Image2"_s, u":/orvanta/side.png"_s, QRect(width() - 60, 0, 60, height()));

    setWindowIcon(QIcon(u":/orvanta/icon.png"_s));
    connect(m_cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(m_cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    Form_Load();
}

frmAbout::~frmAbout() { cacheapi::unregisterForm(this); }

void frmAbout::Form_Load()
{
    setWindowTitle(u"Info zu "_s + orvanta::appTitle());
    m_lblVersion->setText(orvanta::versionText());
    m_lblTitle->setText(orvanta::appTitle());
}

void frmAbout::reject() { unloadLater(); }

void frmAbout::cmdOK_Click() { unloadLater(); }

void frmAbout::cmdSysInfo_Click() { orvanta::StartSysInfo(this); }

void frmAbout::unloadLater()
{
    // Unloading destroys the window; not from inside one of its own handlers.
    hide();
    QTimer::singleShot(0, this, [this] { cacheapi::Unload(this); });
}
