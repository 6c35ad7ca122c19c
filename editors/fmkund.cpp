#include "editors/fmkund.h"

#include "search/VareloSu.h"

using namespace Qt::StringLiterals;

namespace {
ListEditorSpec spec()
{
    ListEditorSpec s;
    s.name = u"fmkund"_s;
    s.title = u"Varelo Orvanta Web - Kunden"_s;
    s.placementKey = u"FMKund"_s;
    s.gridName = u"likund"_s;
    s.numberHeader = u"Knd.-Nr"_s;
    s.classSuffix = u"kunde"_s;
    s.listMethod = u"getkund"_s;
    s.nameMethod = u"getkname"_s;
    s.unknownNumberText = u"Kunde nicht gespeichert"_s;
    s.listText = u"Kundenliste"_s;
    s.search = &VareloSu::bm_knr_su;
    return s;
}
} // namespace

fmkund::fmkund(QWidget *parent) : ListEditor(spec(), parent) {}
