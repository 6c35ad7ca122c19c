#include "editors/FMParam.h"

#include "main/orvanta.h"
#include "session/cacheapi.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
const QString ParamClass = u"orvanta.param"_s;
const QString Source = u"FMParam."_s;

// Entry text and stored code, in the order the combo lists them.
const QList<std::pair<QString, QString>> &listPriceMethods()
{
    static const QList<std::pair<QString, QString>> methods = {
        {u"Indikator"_s, u"I"_s}, {u"Bruttopreis"_s, u"B"_s}, {u"Verkaufspreis"_s, u"V"_s}};
    return methods;
}

factory::Factory &session()
{
    if (!cacheapi::Factory)
        throw factory::Error(factory::ErrorCode::NotConnected, u"Keine Verbindung zum Server"_s);
    return *cacheapi::Factory;
}

QString text(const factory::InstancePtr &object, const QString &property)
{
    return factory::toText(object->get(property));
}

void traceStep(const QString &handler, const QString &step)
{
    cacheapi::Trace(Source + handler, step, QString(), 40);
}
} // namespace

QString FMParam::gatewayTemplate() { return u"cn_iptcp:<server>[1972]:<namespace>"_s; }

FMParam::FMParam(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint)
{
    setObjectName(u"FMParam"_s);
    setWindowTitle(u"Varelo Orvanta Web - Parameter"_s);
    cacheapi::registerForm(this);

    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    constexpr int Long = 440, Medium = 200, Short = 70;
    m_txtdbgateway = addField(u"txtdbgateway"_s, u"DB-Definition Gateway:"_s, 0, Long);
    m_txtdbbmecat = addField(u"txtdbbmecat"_s, u"DB-Definition BMECAT:"_s, 1, Long);
    m_txtdbqtport = addField(u"txtdbqtport"_s, u"DB-Port QT(4900):"_s, 2, Short);
    m_txtfileexport = addField(u"txtfileexport"_s, u"Exportdatei WWS:"_s, 3, Long);
    m_txtfileimport = addField(u"txtfileimport"_s, u"Importdatei Gateway:"_s, 4, Long);

    auto *lipLabel = new QLabel(u"Listpreisberechnung:"_s, this);
    m_liprart = new QComboBox(this);
    m_liprart->setObjectName(u"liprart"_s);
    m_liprart->setFixedWidth(Medium);
    lipLabel->setBuddy(m_liprart);
    grid->addWidget(lipLabel, 5, 0);
    grid->addWidget(m_liprart, 5, 1, Qt::AlignLeft);

    m_txtdbpraefix = addField(u"txtdbpraefix"_s, u"DB.Präfix (z.B.orvanta.wexl):"_s, 6, Medium);

    m_BUSpeich = new QPushButton(u"Speichern"_s, this);
    m_BUSpeich->setObjectName(u"BUSpeich"_s);
    m_BUClose = new QPushButton(u"Verwerfen"_s, this);
    m_BUClose->setObjectName(u"BUClose"_s);
    // Enter in a field must not store half-typed values.
    m_BUSpeich->setAutoDefault(false);
    m_BUClose->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_BUSpeich);
    buttons->addWidget(m_BUClose);
    grid->addLayout(buttons, 7, 1);
    // Growing the window adds space right and below; the controls stay where they are.
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(8, 1);
    grid->setColumnMinimumWidth(1, Long);
    resize(677, 304);

    QWidget::setTabOrder(m_BUSpeich, m_BUClose);
    QWidget::setTabOrder(m_BUClose, m_txtdbgateway);
    QWidget::setTabOrder(m_txtdbgateway, m_txtfileexport);
    QWidget::setTabOrder(m_txtfileexport, m_txtfileimport);
    QWidget::setTabOrder(m_txtfileimport, m_liprart);
    QWidget::setTabOrder(m_liprart, m_txtdbpraefix);
    QWidget::setTabOrder(m_txtdbpraefix, m_txtdbbmecat);
    QWidget::setTabOrder(m_txtdbbmecat, m_txtdbqtport);
    m_BUSpeich->setFocus();

    connect(m_BUSpeich, &QPushButton::clicked, this, &FMParam::BUSpeich_Click);
    connect(m_BUClose, &QPushButton::clicked, this, &FMParam::BUClose_Click);
    Form_Load();
}

FMParam::~FMParam() { cacheapi::unregisterForm(this); }

QLineEdit *FMParam::addField(const QString &name, const QString &label, int row, int width)
{
    auto *grid = static_cast<QGridLayout *>(layout());
    auto *caption = new QLabel(label, this);
    auto *field = new QLineEdit(this);
    field->setObjectName(name);
    field->setFixedWidth(width);
    caption->setBuddy(field);
    grid->addWidget(caption, row, 0);
    grid->addWidget(field, row, 1, Qt::AlignLeft);
    return field;
}

QString FMParam::selectedListPriceCode() const
{
    const int index = m_liprart->currentIndex();
    return index < 0 ? QString() : m_liprart->itemData(index).toString();
}

void FMParam::Form_Load()
{
    traceStep(u"Form_Load"_s, u"Start"_s);
    orvanta::WindowposLaden(this, u"FMParam"_s);
    m_liprart->clear();
    for (const auto &[entry, code] : listPriceMethods()) {
        m_liprart->addItem(entry);
        m_liprart->setItemData(m_liprart->count() - 1, code);
    }
    m_liprart->setCurrentIndex(-1);

    factory::InstancePtr param;
    try {
        cacheapi::BeginServerWork(false, false);
        try {
            param = session().OpenId(ParamClass, cacheapi::Firma);
        } catch (const std::exception &) {
            // No parameters for this tenant yet: they start out as an object holding the tenant.
            param = session().New(ParamClass, cacheapi::Firma);
            param->set(u"Firma"_s, cacheapi::Firma);
            param->sys_Save();
        }
        m_txtdbgateway->setText(text(param, u"dbgateway"_s));
        m_txtdbbmecat->setText(text(param, u"dbbmecat"_s));
        m_txtfileexport->setText(text(param, u"fileexport"_s));
        m_txtfileimport->setText(text(param, u"fileimport"_s));
        m_txtdbpraefix->setText(text(param, u"dbpraefix"_s));
        m_txtdbqtport->setText(text(param, u"dbport"_s));
        if (m_txtdbgateway->text().isEmpty())
            m_txtdbgateway->setText(gatewayTemplate());
        const QString code = text(param, u"liprart"_s);
        for (int i = 0; i < m_liprart->count(); ++i) {
            if (m_liprart->itemData(i).toString() == code) {
                m_liprart->setCurrentIndex(i);
                break;
            }
        }
        cacheapi::CloseObject(param);
        cacheapi::EndServerWork(false);
        m_BUSpeich->setEnabled(true);
        traceStep(u"Form_Load"_s, u"Ende"_s);
    } catch (const factory::Error &e) {
        loadFailed();
        cacheapi::CacheFehlermeldung(e, u"FMParam.Form_Load"_s);
        cacheapi::CloseObject(param);
        traceStep(u"Form_Load"_s, u"Ende mit Fehler"_s);
    } catch (const std::exception &e) {
        loadFailed();
        cacheapi::CacheFehlermeldung(e, u"FMParam.Form_Load"_s);
        cacheapi::CloseObject(param);
        traceStep(u"Form_Load"_s, u"Ende mit Fehler"_s);
    }
}

void FMParam::loadFailed()
{
    // "Speichern" writes every field as shown: after a failed read that would overwrite the
    // stored parameters with what the window never showed.
    m_BUSpeich->setEnabled(false);
}

void FMParam::BUSpeich_Click()
{
    traceStep(u"BUSpeich_Click"_s, u"Start"_s);
    factory::InstancePtr param;
    try {
        cacheapi::BeginServerWork(false, false);
        param = session().OpenId(ParamClass, cacheapi::Firma);
        param->set(u"dbgateway"_s, m_txtdbgateway->text());
        param->set(u"dbbmecat"_s, m_txtdbbmecat->text());
        param->set(u"fileexport"_s, m_txtfileexport->text());
        param->set(u"fileimport"_s, m_txtfileimport->text());
        param->set(u"dbpraefix"_s, m_txtdbpraefix->text());
        // No method chosen stores "": the field is optional and no job reads it.
        param->set(u"liprart"_s, selectedListPriceCode());
        param->set(u"dbport"_s, m_txtdbqtport->text());
        param->sys_Save();
        cacheapi::CloseObject(param);
        cacheapi::EndServerWork(false);
        traceStep(u"BUSpeich_Click"_s, u"Ende"_s);
    } catch (const factory::Error &e) {
        // The window stays open with the user's values, so nothing typed is lost.
        cacheapi::CacheFehlermeldung(e, u"FMParam.BUSpeich_Click"_s);
        cacheapi::CloseObject(param);
        traceStep(u"BUSpeich_Click"_s, u"Ende mit Fehler"_s);
        return;
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, u"FMParam.BUSpeich_Click"_s);
        cacheapi::CloseObject(param);
        traceStep(u"BUSpeich_Click"_s, u"Ende mit Fehler"_s);
        return;
    }
    hide();
}

void FMParam::BUClose_Click() { hide(); }

void FMParam::Form_Unload() { orvanta::WindowposSichern(this, u"FMParam"_s); }
