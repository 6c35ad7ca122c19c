#include "editors/listeditor.h"

#include "editors/choicelist.h"
#include "editors/gridprinter.h"
#include "editors/listeditorgrid.h"
#include "main/orvanta.h"
#include "platform/messagebox.h"
#include "session/cacheapi.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {
// Client area 7020 x 7065 twips at 15 twips a pixel.
constexpr int ClientWidth = 468;
constexpr int ClientHeight = 471;
constexpr int GridWidth = 360;
constexpr int ButtonLeft = 372;
constexpr int ButtonWidth = 88;
constexpr int ButtonHeight = 25;
constexpr int ButtonStep = 33;

} // namespace

ListEditor::ListEditor(ListEditorSpec spec, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_spec(std::move(spec))
{
    setObjectName(m_spec.name);
    setWindowTitle(m_spec.title);
    cacheapi::registerForm(this);
    buildControls();
    Form_Load();
}

ListEditor::~ListEditor()
{
    // The grid outlives this part of the window and commits an open cell editor as it goes:
    // that edit must not reach a window being torn down.
    disconnect(m_grid, nullptr, this, nullptr);
    disconnect(m_grid->rows(), nullptr, this, nullptr);
    cacheapi::unregisterForm(this);
}

void ListEditor::buildControls()
{
    resize(ClientWidth, ClientHeight);

    m_grid = new ListEditorGrid(this);
    m_grid->setObjectName(m_spec.gridName);
    m_grid->setGeometry(0, 0, GridWidth, ClientHeight);
    m_grid->rows()->setHeaders({m_spec.numberHeader, QString(), u"Name"_s});
    m_grid->setColumnWidth(ListEditorGrid::NumberColumn, 50);
    m_grid->setColumnWidth(ListEditorGrid::SearchColumn, 16);
    m_grid->setColumnWidth(ListEditorGrid::NameColumn, 200);
    m_grid->horizontalHeader()->setSectionResizeMode(ListEditorGrid::SearchColumn, QHeaderView::Fixed);
    m_grid->setAccessibleName(m_spec.title);
    connect(m_grid, &ListEditorGrid::cellClicked, this, &ListEditor::grid_Click);
    connect(m_grid->rows(), &ListEditorModel::cellEdited, this, &ListEditor::grid_CellEdited);

    auto button = [this](const QString &name, const QString &text, int slot) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        b->setGeometry(ButtonLeft, 8 + slot * ButtonStep, ButtonWidth, ButtonHeight);
        return b;
    };
    m_print = button(u"BUDruck"_s, u"Drucken"_s, 0);
    m_save = button(u"BuSpeich"_s, u"Speichern"_s, 1);
    m_close = button(u"BUClose"_s, u"Verwerfen"_s, 2);
    m_preview = button(u"BUVorschau"_s, u"Seitenansicht"_s, 3);
    connect(m_print, &QPushButton::clicked, this, &ListEditor::BUDruck_Click);
    connect(m_save, &QPushButton::clicked, this, &ListEditor::BuSpeich_Click);
    connect(m_close, &QPushButton::clicked, this, &ListEditor::BUClose_Click);
    connect(m_preview, &QPushButton::clicked, this, &ListEditor::BUVorschau_Click);

    // The preview sits below "Verwerfen" and follows it.
    setTabOrder(m_save, m_close);
    setTabOrder(m_close, m_preview);
    setTabOrder(m_preview, m_grid);
    setTabOrder(m_grid, m_print);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(u"Timer1"_s);
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(1);
    connect(m_timer1, &QTimer::timeout, this, &ListEditor::Timer1_Timer);
    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(u"Timer2"_s);
    m_timer2->setSingleShot(true);
    m_timer2->setInterval(1);
    connect(m_timer2, &QTimer::timeout, this, &ListEditor::Timer2_Timer);
}

void ListEditor::Form_Load()
{
    orvanta::WindowposLaden(this, m_spec.placementKey);
    m_save->setFocus();
    m_timer1->start();
}

void ListEditor::Form_Unload() { orvanta::WindowposSichern(this, m_spec.placementKey); }

void ListEditor::reportFailure(const std::exception &error, const QString &handler, const QString &what)
{
    const QString operation = source(handler) + u' ' + what;
    if (const auto *e = dynamic_cast<const factory::Error *>(&error))
        cacheapi::CacheFehlermeldung(*e, operation);
    else
        cacheapi::CacheFehlermeldung(error, operation);
    cacheapi::Trace(source(handler), u"Ende mit Fehler"_s, {}, 40);
}

QString ListEditor::refreshPrefix()
{
    factory::InstancePtr param = cacheapi::Factory->OpenId(u"orvanta.param"_s, cacheapi::Firma);
    orvanta::Dbpraefix = factory::toText(param->get(u"dbpraefix"_s));
    cacheapi::CloseObject(param);
    return orvanta::Dbpraefix;
}

QString ListEditor::lookUpName(const QString &number)
{
    factory::ClassObjectPtr cls = cacheapi::Factory->Static(orvanta::Dbpraefix + m_spec.classSuffix);
    const QString name = factory::toText(cls->call(m_spec.nameMethod, {cacheapi::Firma, number}));
    cacheapi::CloseObject(cls);
    return name;
}

void ListEditor::Timer1_Timer()
{
    m_timer1->stop();
    const QString handler = u"Timer1_Timer"_s;
    cacheapi::Trace(source(handler), u"Start"_s, {}, 40);
    m_pendingEdits.clear();
    try {
        cacheapi::BeginServerWork();
        const QString prefix = refreshPrefix();
        factory::ClassObjectPtr cls = cacheapi::Factory->Static(prefix + m_spec.classSuffix);
        const QVariant handle = cls->call(m_spec.listMethod, {cacheapi::Firma, prefix});
        cacheapi::CloseObject(cls);
        // Handle 0 means there is no list: an empty one, not a failure. The grid changes only
        // once the whole list is read.
        const QStringList records = editors::choice::isNoList(handle) ? QStringList() : editors::choice::readServerList(handle);
        QList<QStringList> rows;
        rows.reserve(records.size());
        for (const QString &record : records)
            rows.append(QStringList{cacheapi::Piece(record, u"|"_s, 1), u"1"_s, cacheapi::Piece(record, u"|"_s, 2)});
        m_grid->rows()->setRows(rows);
        cacheapi::EndServerWork();
        ensureReadyRow();
        m_save->setEnabled(true);
        cacheapi::Trace(source(handler), u"Ende"_s, {}, 40);
    } catch (const std::exception &e) {
        // "Speichern" replaces the stored list with the grid: after a failed read that would
        // wipe what the grid never showed.
        m_save->setEnabled(false);
        reportFailure(e, handler, m_spec.listText + u" laden"_s);
        ensureReadyRow();
    }
}

void ListEditor::setCell(int row, int column, const QString &text) { m_grid->rows()->setText(row, column, text); }

void ListEditor::ensureReadyRow()
{
    const int rows = m_grid->rowCount();
    if (rows > 0 && m_grid->cellText(rows - 1, ListEditorGrid::NumberColumn).isEmpty())
        return;
    m_grid->rows()->appendRow({});
    grid_RowAdded(rows);
}

void ListEditor::grid_RowAdded(int row) { setCell(row, ListEditorGrid::SearchColumn, u"1"_s); }

void ListEditor::grid_CellEdited(int row, int column)
{
    // Checked once the edit is closed: a message box shown while the cell editor is
    // still committing would disturb it.
    m_pendingEdits.append({row, column});
    QTimer::singleShot(0, this, [this] { processPendingEdits(); });
}

void ListEditor::processPendingEdits()
{
    while (!m_pendingEdits.isEmpty()) {
        const auto [row, column] = m_pendingEdits.takeFirst();
        if (row < m_grid->rowCount())
            grid_AfterEdit(row, column);
    }
}

void ListEditor::grid_AfterEdit(int row, int column)
{
    // Names and the button column are the user's to write on, but neither looked up nor saved.
    if (column != ListEditorGrid::NumberColumn)
        return;
    const QString handler = m_spec.gridName + u"_AfterEdit"_s;
    const QString number = m_grid->cellText(row, column);
    if (number.isEmpty()) {
        // A number taken out takes its name with it.
        setCell(row, ListEditorGrid::NameColumn, QString());
        return;
    }
    cacheapi::Trace(source(handler), u"Start"_s, {}, 40);
    try {
        cacheapi::BeginServerWork();
        const QString name = lookUpName(number);
        if (name.isEmpty()) {
            platform::messageBox(this, m_spec.unknownNumberText, platform::Buttons::Ok, platform::Icon::Information,
                                 QString());
            // The number is not kept: "Speichern" sends every number in the grid.
            setCell(row, ListEditorGrid::NumberColumn, QString());
            setCell(row, ListEditorGrid::NameColumn, QString());
            m_grid->setCurrentCell(row, ListEditorGrid::NumberColumn);
            cacheapi::EndServerWork();
            cacheapi::Trace(source(handler), u"Ende"_s, {}, 40);
            return;
        }
        setCell(row, ListEditorGrid::NameColumn, name);
        cacheapi::EndServerWork();
        ensureReadyRow();
        cacheapi::Trace(source(handler), u"Ende"_s, {}, 40);
    } catch (const std::exception &e) {
        reportFailure(e, handler, u"Name ermitteln"_s);
    }
}

void ListEditor::grid_Click(int row, int column)
{
    if (column != ListEditorGrid::SearchColumn)
        return;
    m_searchRow = row;
    m_timer2->start();
}

void ListEditor::Timer2_Timer()
{
    m_timer2->stop();
    const int row = m_searchRow;
    if (row < 0 || row >= m_grid->rowCount() || !m_spec.search)
        return;
    const QString number = m_spec.search(this);
    if (number.isEmpty() || row >= m_grid->rowCount())
        return;
    setCell(row, ListEditorGrid::NumberColumn, number);
    const QString handler = u"Timer2_Timer"_s;
    cacheapi::Trace(source(handler), u"Start"_s, {}, 40);
    try {
        cacheapi::BeginServerWork();
        // A picked number is the server's own: kept even when it has no name.
        setCell(row, ListEditorGrid::NameColumn, lookUpName(number));
        cacheapi::EndServerWork();
        cacheapi::Trace(source(handler), u"Ende"_s, {}, 40);
    } catch (const std::exception &e) {
        reportFailure(e, handler, u"Name ermitteln"_s);
    }
    ensureReadyRow();
}

QString ListEditor::numberList() const
{
    QStringList numbers;
    for (int r = 0; r < m_grid->rowCount(); ++r) {
        const QString number = m_grid->cellText(r, ListEditorGrid::NumberColumn);
        if (!number.isEmpty())
            numbers.append(number);
    }
    return numbers.join(u'|');
}

void ListEditor::BuSpeich_Click()
{
    const QString handler = u"BuSpeich_Click"_s;
    cacheapi::Trace(source(handler), u"Start"_s, {}, 40);
    try {
        cacheapi::BeginServerWork();
        m_grid->finishEditing();
        // A number typed last is checked before it is sent; one without a name is emptied
        // (its box says it is not saved) and the rest is saved.
        processPendingEdits();
        const QString list = numberList();
        const QString prefix = refreshPrefix();
        factory::ClassObjectPtr cls = cacheapi::Factory->Static(prefix + m_spec.classSuffix);
        cls->call(u"Save"_s, {cacheapi::Firma, list, prefix});
        cacheapi::CloseObject(cls);
        cacheapi::EndServerWork();
        cacheapi::Trace(source(handler), u"Ende"_s, {}, 40);
    } catch (const std::exception &e) {
        // The user's rows stay for another try.
        reportFailure(e, handler, m_spec.listText + u" speichern"_s);
        return;
    }
    done(Accepted);
}

GridPrinter ListEditor::printout() const
{
    GridPrinter printer = GridPrinter::fromGrid(m_grid, {ListEditorGrid::NumberColumn, ListEditorGrid::NameColumn});
    printer.setTitle(GridPrinter::listTitle(QDateTime::currentDateTime()));
    printer.setSubtitle(QString());
    return printer;
}

int ListEditor::printTo(QPrinter *printer) const
{
    m_grid->finishEditing();
    return printout().print(printer);
}

void ListEditor::BUDruck_Click()
{
    m_grid->finishEditing();
    printout().printWithDialog(this);
}

void ListEditor::BUVorschau_Click()
{
    m_grid->finishEditing();
    printout().preview(this);
}

void ListEditor::BUClose_Click() { done(Rejected); }
