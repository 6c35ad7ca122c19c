#include "search/searchwindow.h"

#include "main/orvanta.h"
#include "platform/messagebox.h"
#include "search/nrsumodel.h"
#include "search/uppercasevalidator.h"
#include "session/cacheapi.h"

#include <QApplication>

#include <algorithm>
#include <QComboBox>
#include <QEvent>
#include <QBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyleOptionFrame>
#include <QTableView>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {
constexpr int TermLength = 18;
constexpr int RowTopTwips = 120;
constexpr int Gap = 3;     // pixels between a label and its field
constexpr int Spacing = 6; // between one criterion and the next

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

// The criteria row is laid out, not placed: with another font or scaling the lists keep
// the width their items need and the short name, which scrolls within its 18 characters,
// gives way. Room left over goes to the lists.
void SearchWindow::buildControls()
{
    const int tx = orvanta::twipsPerPixelX(), ty = orvanta::twipsPerPixelY();
    const int width = px(m_spec.clientTwips.width(), tx);
    const int height = px(m_spec.clientTwips.height(), ty);
    setFixedSize(width, height);

    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    auto addCriterion = [&](const QString &label, QWidget *field, int stretch) {
        auto *caption = new QLabel(label, this);
        caption->setBuddy(field);
        if (row->count() > 0)
            row->addSpacing(Spacing);
        row->addWidget(caption);
        row->addSpacing(Gap);
        row->addWidget(field, stretch);
    };

    m_term = new QLineEdit(this);
    m_term->setObjectName(u"SKBEZ"_s);
    m_term->setMaxLength(TermLength);
    m_term->setValidator(new UpperCaseValidator(m_term));
    m_term->installEventFilter(this);
    m_term->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_term->setMinimumWidth(m_term->fontMetrics().horizontalAdvance(u"MUELLER"_s) + 6);
    addCriterion(m_spec.termLabel, m_term, 0);

    QList<QWidget *> tabOrder{m_term};
    for (const SearchWindowSpec::Field &f : std::as_const(m_spec.fields)) {
        QWidget *field = nullptr;
        if (f.choice) {
            auto *combo = new QComboBox(this);
            combo->setEditable(false);
            combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
            field = combo;
        } else {
            auto *edit = new QLineEdit(this);
            const QSize text(edit->fontMetrics().horizontalAdvance(QString(f.digits, u'0')), 0);
            QStyleOptionFrame option;
            option.initFrom(edit);
            const QSize innerMargins(6, 0); // the line edit's own, around its text and cursor
            edit->setFixedWidth(
                edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text + innerMargins, edit).width());
            field = edit;
        }
        field->setObjectName(f.name);
        addCriterion(f.label, field, f.choice ? 1 : 0);
        tabOrder.append(field);
    }

    m_search = new QPushButton(u"Suchen"_s, this);
    m_search->setObjectName(u"BUSuch"_s);
    m_search->setDefault(true);
    m_search->setAutoDefault(false);
    // As wide as its caption needs, not the style's minimum for dialog buttons.
    m_search->setFixedWidth(m_search->fontMetrics().horizontalAdvance(m_search->text()) + 16);
    row->addSpacing(Spacing);
    row->addWidget(m_search);
    connect(m_search, &QPushButton::clicked, this, &SearchWindow::BUSuch_Click);
    tabOrder.append(m_search);

    m_model = new NrsuModel(*m_spec.table,
                            {m_spec.firstHeader, u"K Bezeichnung"_s, u"Name"_s, u"PLZ"_s, u"Straße"_s, QString()},
                            trace(m_spec.listName + u"_GetData"_s), this);
    m_list = new QTableView(this);
    m_list->setObjectName(m_spec.listName);
    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // One line of text a row, as compact as the style allows: more hits in sight.
    m_list->verticalHeader()->setDefaultSectionSize(m_list->verticalHeader()->minimumSectionSize());
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setAccessibleName(m_spec.title);
    connect(m_list, &QTableView::doubleClicked, this, &SearchWindow::list_DblClick);
    tabOrder.append(m_list);

    // The list where it was designed (120 twips in, from 600 twips down, 7455 twips wide);
    // the row above it takes the height its fields need.
    auto *outer = new QVBoxLayout(this);
    const int left = px(ListLeftTwips, tx), top = px(RowTopTwips, ty);
    outer->setContentsMargins(left, top, qMax(0, width - left - px(ListWidthTwips, tx)),
                              qMax(0, height - px(ListTopTwips, ty) - px(ListHeightTwips, ty)));
    outer->setSpacing(qMax(Gap, px(ListTopTwips - RowTopTwips, ty) - row->sizeHint().height()));
    outer->addLayout(row);
    outer->addWidget(m_list, 1);

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
    fitNumberColumn();

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
        // A chosen item is read in full; the short name gives way for it.
        combo->setMinimumWidth(combo->sizeHint().width());
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
    fitNumberColumn();
    m_list->viewport()->update();
}

// The number is what the user picks by: its column starts at its share of the list but is
// never narrower than its header or the longest number among the hits.
void SearchWindow::fitNumberColumn()
{
    const int share = qRound(double(ListWidthTwips) * ColumnShares[0] / 100.0 / orvanta::twipsPerPixelX());
    int widest = 0;
    const QFontMetrics metrics(m_list->font());
    for (int n = 1; n <= m_model->hitCount(); ++n)
        widest = qMax(widest, metrics.horizontalAdvance((*m_spec.table)[std::size_t(n)].nr));
    // An item view keeps this margin on either side of a cell's text.
    const int textMargin = m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1;
    const int cell = widest > 0 ? widest + 2 * textMargin : 0;
    m_list->setColumnWidth(0, std::max({share, m_list->horizontalHeader()->sectionSizeHint(0), cell}));
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
            SKBEZ_KeyUp(static_cast<QKeyEvent *>(event)->key());
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

void SearchWindow::SKBEZ_KeyUp(int key)
{
    if (m_spec.traceKeyUp)
        cacheapi::Trace(trace(u"SKBEZ_KeyUp"_s), u"Start/Ende"_s, {}, 40);
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        normaliseTerm();
}

void SearchWindow::SKBEZ_LostFocus()
{
    const QString source = trace(u"SKBEZ_LostFocus"_s);
    if (!m_spec.traceLostFocusEnd) {
        cacheapi::Trace(source, u"Start/Ende"_s, {}, 40);
        normaliseTerm();
        return;
    }
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    normaliseTerm();
    cacheapi::Trace(source, u"Ende"_s, {}, 40);
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
