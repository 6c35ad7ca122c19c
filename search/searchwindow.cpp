#include "search/searchwindow.h"

#include "main/orvanta.h"
#include "platform/messagebox.h"
#include "search/nrsumodel.h"
#include "search/uppercasevalidator.h"
#include "session/cacheapi.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {
constexpr int TermLength = 18;
constexpr int RowTopTwips = 120;
constexpr int Margin = 8;   // pixels
constexpr int Gap = 4;      // between a label and its field
constexpr int Spacing = 10; // between one criterion and the next
constexpr int FieldHeight = 23;
constexpr int TermWidth = 150; // room for 18 capitals
constexpr int ButtonWidth = 70;

int px(int twips, int perPixel) { return qRound(double(twips) / perPixel); }
} // namespace

SearchWindow::SearchWindow(SearchWindowSpec spec, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_spec(std::move(spec))
{
    setObjectName(m_spec.name);
    setWindowTitle(m_spec.title);
    cacheapi::registerForm(this);
    buildControls();
    Form_Load();
}

SearchWindow::~SearchWindow()
{
    // The field loses the focus as it is destroyed: no normalising on a half-gone window.
    m_term->removeEventFilter(this);
    cacheapi::unregisterForm(this);
}

void SearchWindow::buildControls()
{
    const int tx = orvanta::twipsPerPixelX(), ty = orvanta::twipsPerPixelY();
    const int width = px(m_spec.clientTwips.width(), tx);
    setFixedSize(width, px(m_spec.clientTwips.height(), ty));

    const int top = px(RowTopTwips, ty);
    int x = Margin;
    auto addLabel = [&](const QString &text, QWidget *buddy) {
        auto *label = new QLabel(text, this);
        const int w = label->fontMetrics().horizontalAdvance(text) + 2;
        label->setGeometry(x, top, w, FieldHeight);
        label->setBuddy(buddy);
        x += w + Gap;
    };

    m_term = new QLineEdit(this);
    m_term->setObjectName(u"SKBEZ"_s);
    m_term->setMaxLength(TermLength);
    m_term->setValidator(new UpperCaseValidator(m_term));
    m_term->installEventFilter(this);
    addLabel(m_spec.termLabel, m_term);
    m_term->setGeometry(x, top, TermWidth, FieldHeight);
    x += TermWidth + Spacing;

    const int buttonX = width - Margin - ButtonWidth;
    QList<QWidget *> tabOrder{m_term};
    for (const SearchWindowSpec::Field &f : std::as_const(m_spec.fields)) {
        QWidget *field = nullptr;
        if (f.choice) {
            auto *combo = new QComboBox(this);
            combo->setEditable(false);
            field = combo;
        } else {
            field = new QLineEdit(this);
        }
        field->setObjectName(f.name);
        addLabel(f.label, field);
        const int w = f.width > 0 ? f.width : buttonX - Spacing - x;
        field->setGeometry(x, top, w, FieldHeight);
        x += w + Spacing;
        tabOrder.append(field);
    }

    m_search = new QPushButton(u"Suchen"_s, this);
    m_search->setObjectName(u"BUSuch"_s);
    m_search->setDefault(true);
    m_search->setAutoDefault(false);
    m_search->setGeometry(buttonX, top - 1, ButtonWidth, FieldHeight + 2);
    connect(m_search, &QPushButton::clicked, this, &SearchWindow::BUSuch_Click);
    tabOrder.append(m_search);

    m_model = new NrsuModel(*m_spec.table,
                            {m_spec.firstHeader, u"K Bezeichnung"_s, u"Name"_s, u"PLZ"_s, u"Straße"_s, QString()},
                            trace(m_spec.listName + u"_GetData"_s), this);
    m_list = new QTableView(this);
    m_list->setObjectName(m_spec.listName);
    m_list->setModel(m_model);
    m_list->setGeometry(px(ListLeftTwips, tx), px(ListTopTwips, ty), px(ListWidthTwips, tx),
                        px(ListHeightTwips, ty));
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setAccessibleName(m_spec.title);
    connect(m_list, &QTableView::doubleClicked, this, &SearchWindow::list_DblClick);
    tabOrder.append(m_list);

    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void SearchWindow::Form_Load()
{
    const QString source = trace(u"Form_Load"_s);
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    orvanta::WindowposLaden(this, m_spec.name);

    // Widths in pixels from the list's designed width in twips.
    const int tx = orvanta::twipsPerPixelX();
    for (int c = 0; c < 5; ++c)
        m_list->setColumnWidth(c, qRound(double(ListWidthTwips) * ColumnShares[c] / 100.0 / tx));

    loadChoices();
}

void SearchWindow::loadChoices()
{
    const QString source = trace(u"Form_Load"_s);
    const SearchWindowSpec::ChoiceSource &src = m_spec.choices;
    auto *combo = findChild<QComboBox *>(src.field);
    if (!combo)
        return;
    if (src.emptyItemBeforeQuery)
        combo->addItem(QString());
    try {
        cacheapi::BeginServerWork();
        if (!src.emptyItemBeforeQuery)
            combo->clear();
        factory::ResultSetPtr rs = cacheapi::Factory->ResultSet(src.className, src.query);
        if (!src.emptyItemBeforeQuery)
            combo->addItem(QString());
        QVariantList args{cacheapi::Firma};
        args += src.argsAfterFirma;
        rs->Execute(args);
        while (rs->Next()) {
            const QString number = factory::toText(rs->GetData(1));
            const QString text = cacheapi::ConvertText(factory::toText(rs->GetData(2)), u"VARELO"_s, false);
            combo->addItem(number + u" | "_s + text);
        }
        cacheapi::CloseObject(rs);
        cacheapi::EndServerWork();
        cacheapi::Trace(source, u"Ende"_s, {}, 40);
    } catch (const factory::Error &e) {
        cacheapi::CacheFehlermeldung(e, src.failureText);
        if (src.traceFailureEnd)
            cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, src.failureText);
        if (src.traceFailureEnd)
            cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
    }
}

QString SearchWindow::fieldText(const QString &name) const
{
    if (name == m_term->objectName())
        return m_term->text();
    if (auto *combo = findChild<QComboBox *>(name))
        return combo->currentIndex() < 0 ? QString() : combo->currentText();
    if (auto *edit = findChild<QLineEdit *>(name))
        return edit->text();
    return {};
}

void SearchWindow::setListRowCount(int count)
{
    m_model->setHitCount(count);
    m_list->viewport()->update();
}

int SearchWindow::listRowCount() const { return m_model->hitCount(); }

// The short-name field gets the focus whenever the window comes (back) to the front.
void SearchWindow::Form_Paint()
{
    cacheapi::Trace(trace(u"Form_Paint"_s), u"Start/Ende"_s, {}, 40);
    if (m_term->isEnabled())
        m_term->setFocus(Qt::OtherFocusReason);
}

bool SearchWindow::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate)
        Form_Paint();
    return handled;
}

bool SearchWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_term) {
        if (event->type() == QEvent::FocusOut) {
            SKBEZ_LostFocus();
        } else if (event->type() == QEvent::KeyRelease) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                SKBEZ_KeyUp();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SearchWindow::normaliseTerm()
{
    const QString term = cacheapi::ConvertText(m_term->text(), u"VARELOSUCHE"_s, true).left(TermLength);
    if (term != m_term->text())
        m_term->setText(term);
}

void SearchWindow::SKBEZ_KeyUp()
{
    if (m_spec.traceKeyUp)
        cacheapi::Trace(trace(u"SKBEZ_KeyUp"_s), u"Start/Ende"_s, {}, 40);
    normaliseTerm();
}

void SearchWindow::SKBEZ_LostFocus()
{
    cacheapi::Trace(trace(u"SKBEZ_LostFocus"_s), u"Start/Ende"_s, {}, 40);
    normaliseTerm();
}

void SearchWindow::BUSuch_Click()
{
    const QString source = trace(u"BUSuch_Click"_s);
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    // Enter presses "Suchen" before the key is released: the term is normalised here too,
    // so every search runs with the form the server compares.
    normaliseTerm();
    if (m_term->text().isEmpty()) {
        platform::messageBox(this, u"Der Suchbegriff muss mindestens 1 Zeichen Lang sein"_s, platform::Buttons::Ok,
                             platform::Icon::None, u"Fehler: Suchbegriffseingabe"_s);
        cacheapi::Trace(source, m_spec.tooShortTrace, m_term->text(), 40);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_spec.search();
    QApplication::restoreOverrideCursor();
    cacheapi::Trace(source, u"Ende"_s, {}, 40);
}

void SearchWindow::list_DblClick(const QModelIndex &index)
{
    // Only a row that exists can be picked; a double click beside the rows does nothing.
    if (!index.isValid() || index.row() >= m_model->hitCount())
        return;
    const QString source = trace(m_spec.listName + u"_DblClick"_s);
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    const QString nr = (*m_spec.table)[std::size_t(index.row() + 1)].nr;
    *m_spec.picked = nr;
    done(Accepted);
    cacheapi::Trace(source, u"Ende"_s, nr, 40);
}

void SearchWindow::done(int result)
{
    QDialog::done(result);
    // Closing unloads the window. The opener of a modal search unloads it as soon as its
    // loop returns; a window shown without a loop is unloaded once this event is handled.
    QPointer<SearchWindow> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self)
            cacheapi::Unload(self.data());
    });
}

void SearchWindow::Form_Unload() { orvanta::WindowposSichern(this, m_spec.name); }
