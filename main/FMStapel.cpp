#include "main/FMStapel.h"

#include "main/batchrunsmodel.h"
#include "main/orvanta.h"
#include "session/cacheapi.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
namespace runs = orvanta::batchruns;

namespace {
const QString Source = u"FMStapel."_s;
const QString FormKey = u"FMStapel"_s;
// A refresh that finds the program inside a server call tries again this much later.
constexpr int BusyRetryMsec = 200;

// The timer reads only over a standing connection and never between the two halves of
// another server operation: reconnecting (with its waits and boxes) is for what the user does.
bool canReadNow()
{
    if (cacheapi::BusyDepth > 0 || !cacheapi::Factory)
        return false;
    try {
        return cacheapi::Factory->IsConnected();
    } catch (...) {
        return false;
    }
}
} // namespace

FMStapel::FMStapel(QWidget *parent)
    : QWidget(parent, Qt::Window), m_model(new runs::Model(this)), m_filter(new runs::Filter(this)),
      m_timer(new QTimer(this))
{
    setObjectName(u"FMStapel"_s);
    setWindowTitle(u"Varelo Orvanta Web - Stapelläufe"_s);
    cacheapi::registerForm(this);

    auto *jobLabel = new QLabel(u"&Job:"_s, this);
    m_liJob = new QComboBox(this);
    m_liJob->setObjectName(u"liJob"_s);
    m_liJob->addItem(u"(alle)"_s, QString());
    for (const QString &job : runs::knownJobs())
        m_liJob->addItem(runs::jobCaption(job), job);
    jobLabel->setBuddy(m_liJob);
    m_chkFehler = new QCheckBox(u"Nur &Fehler"_s, this);
    m_chkFehler->setObjectName(u"chkFehler"_s);

    m_filter->setSourceModel(m_model);
    m_tvLaeufe = new QTableView(this);
    m_tvLaeufe->setObjectName(u"tvLaeufe"_s);
    m_tvLaeufe->setAccessibleName(u"Stapelläufe"_s);
    m_tvLaeufe->setModel(m_filter);
    m_tvLaeufe->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tvLaeufe->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tvLaeufe->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tvLaeufe->setWordWrap(false);
    m_tvLaeufe->verticalHeader()->hide();
    m_tvLaeufe->horizontalHeader()->setStretchLastSection(true);
    m_tvLaeufe->setColumnWidth(runs::Model::Job, 220);
    m_tvLaeufe->setColumnWidth(runs::Model::Started, 130);
    m_tvLaeufe->setColumnWidth(runs::Model::Ended, 130);
    m_tvLaeufe->setColumnWidth(runs::Model::Duration, 70);
    m_tvLaeufe->setColumnWidth(runs::Model::Outcome, 320);

    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(jobLabel);
    filterRow->addWidget(m_liJob);
    filterRow->addSpacing(12);
    filterRow->addWidget(m_chkFehler);
    filterRow->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(m_tvLaeufe);
    resize(1000, 360);

    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &FMStapel::tick);
    connect(m_liJob, &QComboBox::currentIndexChanged, this,
            [this] { m_filter->setJob(m_liJob->currentData().toString()); });
    connect(m_chkFehler, &QCheckBox::toggled, m_filter, &runs::Filter::setFailedOnly);
    connect(m_tvLaeufe, &QTableView::doubleClicked, this, &FMStapel::showOutcome);
}

FMStapel::~FMStapel() { cacheapi::unregisterForm(this); }

FMStapel *FMStapel::showFor(QWidget *owner)
{
    FMStapel *window = cacheapi::form<FMStapel>();
    if (window->parentWidget() != owner)
        window->setParent(owner, Qt::Window | window->windowFlags());
    if (!window->m_placed) {
        orvanta::WindowposLaden(window, FormKey);
        window->m_placed = true;
    }
    window->show();
    window->raise();
    window->activateWindow();
    window->load();
    return window;
}

void FMStapel::load()
{
    const QString handler = u"Form_Load"_s;
    cacheapi::Trace(Source + handler, u"Start"_s, QString(), 40);
    try {
        cacheapi::BeginServerWork(false, false);
        try {
            m_model->setRuns(runs::read(*cacheapi::Factory, cacheapi::Firma, Limit));
        } catch (...) {
            cacheapi::EndServerWork(false);
            throw;
        }
        cacheapi::EndServerWork(false);
        afterRead();
        cacheapi::Trace(Source + handler, u"Ende"_s, QString(), 40);
        return;
    } catch (const factory::Error &e) {
        cacheapi::CacheFehlermeldung(e, Source + handler);
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, Source + handler);
    }
    m_timer->stop();
    cacheapi::Trace(Source + handler, u"Ende mit Fehler"_s, QString(), 40);
}

void FMStapel::refreshSoon() { m_timer->start(0); }

bool FMStapel::refreshing() const { return m_timer->isActive(); }

void FMStapel::tick()
{
    if (cacheapi::BusyDepth > 0) {
        m_timer->start(BusyRetryMsec);
        return;
    }
    if (readRuns())
        afterRead();
}

bool FMStapel::readRuns()
{
    if (!canReadNow())
        return false;
    try {
        // One round trip; the model changes rows in place, so the selection stays put.
        m_model->setRuns(runs::read(*cacheapi::Factory, cacheapi::Firma, Limit));
        return true;
    } catch (const factory::Error &e) {
        // Nobody asked for this read: a trace line, no box; the user's next step reports.
        cacheapi::Trace(Source + u"tick"_s, u"Ende mit Fehler"_s,
                        u"Fehler #"_s + QString::number(e.number()) + u' ' + e.description(), 40);
    }
    return false;
}

void FMStapel::afterRead()
{
    if (m_model->anyActive())
        m_timer->start(RefreshMsec);
    else
        m_timer->stop();
}

void FMStapel::showOutcome(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const runs::Run &run = m_model->run(m_filter->mapToSource(index).row());
    auto *box = new QDialog(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(u"FMStapelErgebnis"_s);
    box->setWindowTitle(runs::jobCaption(run.job) + u" – "_s + run.started.toString(u"dd.MM.yyyy HH:mm:ss"_s));
    auto *text = new QPlainTextEdit(run.outcome, box);
    text->setObjectName(u"txtErgebnis"_s);
    text->setAccessibleName(u"Ergebnis"_s);
    text->setReadOnly(true);
    // Read-only keeps only the mouse's selection; copying from the keyboard needs its own.
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, box);
    connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::reject);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(text);
    layout->addWidget(buttons);
    box->resize(560, 260);
    box->open();
}

bool FMStapel::event(QEvent *event)
{
    // Coming back to the window shows the runs of the tenant chosen meanwhile.
    if (event->type() == QEvent::WindowActivate && m_placed && !m_timer->isActive())
        refreshSoon();
    return QWidget::event(event);
}

void FMStapel::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
    m_timer->stop();
    // Unloading destroys the window: not from inside its own event.
    QTimer::singleShot(0, this, [this] { cacheapi::Unload(this); });
}

void FMStapel::Form_Unload() { orvanta::WindowposSichern(this, FormKey); }
