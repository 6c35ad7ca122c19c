#pragma once
// What the customer and the supplier search windows share: a row of criteria along the top
// (the short name first), "Suchen", and the virtual hit list below. The twins differ only in
// the data they are built from (SearchWindowSpec).

#include "search/VareloSu.h"
#include "session/forms.h"

#include <QDialog>
#include <QRect>
#include <QSize>
#include <QVariantList>

class QLineEdit;
class QPushButton;
class QTableView;
class NrsuModel;

struct SearchWindowSpec
{
    struct Field
    {
        QString name;  // objectName
        QString label;
        bool choice = false; // drop-down list without free text, as wide as its items need
        int digits = 0;      // a plain text box: room for this many digits
    };
    // The drop-down list that the load fills from a server query.
    struct ChoiceSource
    {
        QString field;
        QString className;
        QString query;
        QVariantList argsAfterFirma;
        bool emptyItemBeforeQuery = false; // else added once the query is open
        QString failureText;               // operation text of the error box
        bool traceFailureEnd = false;      // "Ende mit Fehler" after a failed load
    };

    QString name;        // window name, placement key and trace prefix: "FMKnrsu"
    QString title;
    QSize clientTwips;
    QString termLabel;   // label of SKBEZ
    QList<Field> fields; // the criteria after SKBEZ, left to right
    ChoiceSource choices;
    QString listName;    // "KNRSULI"
    QString firstHeader; // header of the number column
    bool traceKeyUp = false;           // every key released in SKBEZ writes "Start/Ende"
    bool traceLostFocusEnd = false;    // leaving SKBEZ writes "Start" and "Ende", else "Start/Ende"
    QString tooShortTrace; // trace status of a refused empty term
    const VareloSu::NrsuTable *table = nullptr;
    void (*search)() = nullptr; // VareloSu::getknrsu / getlnrsu
    QString *picked = nullptr;  // VareloSu::knrsu_nr / lnrsu_nr
};

class SearchWindow : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchWindow)
public:
    ~SearchWindow() override;

    // What the search reads and sets.
    QString fieldText(const QString &name) const; // text box text, or the selected item's text
    void setListRowCount(int count);              // and refresh the list
    int listRowCount() const;

    void Form_Unload() override;

    static constexpr int ListLeftTwips = 120;
    static constexpr int ListTopTwips = 600;
    static constexpr int ListWidthTwips = 7455;
    static constexpr int ListHeightTwips = 5055;
    // Shares of the list's width per column, in percent; they add up to more than 100, so
    // the list scrolls sideways.
    static constexpr int ColumnShares[5] = {8, 20, 30, 8, 44};

protected:
    explicit SearchWindow(SearchWindowSpec spec, QWidget *parent = nullptr);

    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void done(int result) override;

private:
    void buildControls();
    void Form_Load();
    void loadChoices();
    void fitNumberColumn();
    void Form_Paint();
    void normaliseTerm();
    void SKBEZ_KeyUp(int key);
    void SKBEZ_LostFocus();
    void BUSuch_Click();
    void list_DblClick(const QModelIndex &index);
    QString trace(const QString &handler) const { return m_spec.name + u'.' + handler; }

    SearchWindowSpec m_spec;
    QLineEdit *m_term = nullptr;
    QPushButton *m_search = nullptr;
    QTableView *m_list = nullptr;
    NrsuModel *m_model = nullptr;
};
