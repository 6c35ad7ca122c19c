#pragma once
// Module VareloSu: the customer and supplier look-ups. Holds the hit tables the search
// windows' virtual lists read from, fills them from the server, and opens a search window
// for an editor that wants a number picked.

#include <QString>

#include <array>

class QWidget;

namespace VareloSu {

// One hit of a customer or supplier search.
struct nrsu_satz
{
    QString nr;
    QString kbez;
    QString name;    // display form
    QString plz;
    QString strasse; // display form
};

constexpr int MaxHits = 500;
// Hit n sits at index n; index 0 is never filled. A new search overwrites from index 1 up
// and leaves older hits beyond its count in place (the list's row count hides them).
using NrsuTable = std::array<nrsu_satz, MaxHits + 1>;

extern NrsuTable knrsu_tab;
extern NrsuTable lnrsu_tab;
extern QString knrsu_nr; // picked customer number, "" when none
extern QString lnrsu_nr; // picked supplier number, "" when none

// Run the search with the criteria of the (default) search window and give its list the new
// row count. Failures are reported here; nothing is thrown.
void getknrsu();
void getlnrsu();

// Open the search window modally (owned by owner, or the active window) and answer the
// number the user picked by double click, or "" when the window was closed without a pick.
QString bm_knr_su(QWidget *owner = nullptr);
QString bm_lnr_su(QWidget *owner = nullptr);

// The server arguments built from a selected item ("7 | Gastronomie" -> "7 ",
// "1600 | Lieferanten Inland" -> "1600 "); "" for no item or the empty item.
QString kundenGruppeArgument(const QString &itemText);
QString sammelKontoArgument(const QString &itemText);

} // namespace VareloSu
