#include "editors/fmlieferant.h"

#include "search/VareloSu.h"

using namespace Qt::StringLiterals;

namespace {
ListEditorSpec spec()
{
    ListEditorSpec s;
    s.name = u"fmlieferant"_s;
    // The window shares the customer list's caption.
    s.title = u"Varelo Orvanta Web - Kunden"_s;
    s.placementKey = u"FMLieferant"_s;
    s.gridName = u"lilief"_s;
    s.numberHeader = u"Lief.-Nr"_s;
    s.classSuffix = u"liefneg"_s;
    s.listMethod = u"getlief"_s;
    s.nameMethod = u"getlname"_s;
    s.unknownNumberText = u"Lieferant nicht gespeichert"_s;
    s.listText = u"Negativliste Lieferanten"_s;
    s.search = &VareloSu::bm_lnr_su;
    return s;
}
} // namespace

fmlieferant::fmlieferant(QWidget *parent) : ListEditor(spec(), parent) {}
