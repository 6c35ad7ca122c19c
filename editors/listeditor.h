#pragma once
// The list editors of the web interface: a grid of numbers with their names that the user
// fills by typing or by a search, saved as one "|"-joined list, printed on demand. The
// customer list and the supplier negative list are the same window built from different
// data (ListEditorSpec).

#include "session/forms.h"

#include <QDialog>
#include <QList>
#include <QPair>

#include <functional>

class GridPrinter;
class ListEditorGrid;
class QPrinter;
class QPushButton;
class QTimer;

struct ListEditorSpec
{
    QString name;         // window name and trace prefix: "fmkund"
    QString title;
    QString placementKey; // "FMKund"
    QString gridName;     // "likund"
    QString numberHeader; // "Knd.-Nr"
    QString classSuffix;  // the server class is the tenant's prefix + this: "kunde"
    QString listMethod;   // "getkund"
    QString nameMethod;   // "getkname"
    QString unknownNumberText; // "Kunde nicht gespeichert"
    QString listText;     // names the list in operation texts: "Kundenliste"
    std::function<QString(QWidget *owner)> search; // number picked, "" for none
};

class ListEditor : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListEditor)
public:
    ~ListEditor() override;

    void Form_Unload() override;

    // What "Speichern" sends: the non-empty numbers from the first row down, "|"-joined.
    QString numberList() const;
    // The grid as "Drucken" prints it, with the title of this moment.
    GridPrinter printout() const;
    // Prints without a dialog (answers the pages printed).
    int printTo(QPrinter *printer) const;

    ListEditorGrid *grid() const { return m_grid; }

protected:
    explicit ListEditor(ListEditorSpec spec, QWidget *parent = nullptr);

private:
    void buildControls();
    void Form_Load();
    void Timer1_Timer();
    void Timer2_Timer();
    void grid_AfterEdit(int row, int column);
    void grid_RowAdded(int row);
    void grid_Click(int row, int column);
    void grid_CellEdited(int row, int column);
    void processPendingEdits();
    void BuSpeich_Click();
    void BUDruck_Click();
    void BUVorschau_Click();
    void BUClose_Click();

    void ensureReadyRow();            // an empty row at the end, ready for input
    void setCell(int row, int column, const QString &text);
    QString refreshPrefix();          // dbpraefix of the tenant's orvanta.param
    QString lookUpName(const QString &number);
    QString source(const QString &handler) const { return m_spec.name + u'.' + handler; }
    void reportFailure(const std::exception &error, const QString &handler, const QString &what);

    ListEditorSpec m_spec;
    ListEditorGrid *m_grid = nullptr;
    QPushButton *m_print = nullptr;
    QPushButton *m_preview = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_close = nullptr;
    QTimer *m_timer1 = nullptr;
    QTimer *m_timer2 = nullptr;
    int m_searchRow = -1;
    QList<QPair<int, int>> m_pendingEdits;
};
