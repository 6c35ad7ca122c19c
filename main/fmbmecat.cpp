#include "main/fmbmecat.h"

#include "main/datefield.h"
#include "main/jobs.h"
#include "platform/messagebox.h"
#include "session/cacheapi.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

fmbmecat::fmbmecat(QWidget *parent) : QDialog(parent)
{
    setObjectName(u"fmbmecat"_s);
    setWindowTitle(u"BMECAT"_s);
    cacheapi::registerForm(this);

    auto *label = new QLabel(u"per Datum:"_s, this);
    m_datum = new DateField(this);
    m_datum->setObjectName(u"datum"_s);
    m_datum->setDate(QDate::currentDate());
    label->setBuddy(m_datum);
    m_BUStart = new QPushButton(u"Start"_s, this);
    m_BUStart->setObjectName(u"BUStart"_s);

    auto *grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_datum, 0, 1);
    grid->addWidget(m_BUStart, 1, 1, Qt::AlignRight);
    connect(m_BUStart, &QPushButton::clicked, this, &fmbmecat::BUStart_Click);
    // No build for a date that is not one: a half-typed or impossible date keeps "Start" off.
    connect(m_datum, &DateField::dateChanged, this,
            [this](const QDate &date) { m_BUStart->setEnabled(date.isValid() && !m_gatewayFailed); });
}

fmbmecat::~fmbmecat() { cacheapi::unregisterForm(this); }

bool fmbmecat::event(QEvent *event)
{
    // Every activation starts from today, also after the user changed the date and came back.
    if (event->type() == QEvent::WindowActivate)
        m_datum->setDate(QDate::currentDate());
    return QDialog::event(event);
}

void fmbmecat::BUStart_Click()
{
    cacheapi::Trace(u"fmbmecat.BUStart_Click"_s, u"Start"_s, QString(), 40);
    m_BUStart->setEnabled(false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    bool cursorSet = true;
    auto normalPointer = [&cursorSet] {
        if (cursorSet)
            QGuiApplication::restoreOverrideCursor();
        cursorSet = false;
    };
    try {
        cacheapi::BeginServerWork(false, false);
        const auto outcome = orvanta::jobs::bmecat(m_datum->date());
        emit jobStarted();
        if (outcome == orvanta::jobs::GatewayOutcome::Unreachable) {
            // The catalogue is built on the main server; only the gateway's import is missing.
            // "Start" stays off: a fresh dialog is needed for another try.
            m_gatewayFailed = true;
            normalPointer();
            platform::messageBox(this, u"Verbindung zu Geteway-Server nicht möglich"_s, platform::Buttons::Ok,
                                 platform::Icon::Critical, QString());
            QCoreApplication::processEvents();
            cacheapi::EndServerWork(false);
            cacheapi::Trace(u"fmbmecat.BUStart_Click"_s, u"Ende"_s, QString(), 40);
            return;
        }
        cacheapi::EndServerWork(false);
        m_BUStart->setEnabled(true);
        normalPointer();
        QCoreApplication::processEvents();
        cacheapi::Trace(u"fmbmecat.BUStart_Click"_s, u"Ende"_s, QString(), 40);
        hide();
    } catch (const factory::Error &e) {
        normalPointer();
        m_BUStart->setEnabled(true);
        cacheapi::CacheFehlermeldung(e, u"fmbmecat.BUStart_Click"_s);
        cacheapi::Trace(u"fmbmecat.BUStart_Click"_s, u"Ende mit Fehler"_s, QString(), 40);
    } catch (const std::exception &e) {
        normalPointer();
        m_BUStart->setEnabled(true);
        cacheapi::CacheFehlermeldung(e, u"fmbmecat.BUStart_Click"_s);
        cacheapi::Trace(u"fmbmecat.BUStart_Click"_s, u"Ende mit Fehler"_s, QString(), 40);
    }
}
