#include "search/FMKnrsu.h"

using namespace Qt::StringLiterals;

namespace {
SearchWindowSpec spec()
{
    SearchWindowSpec s;
    s.name = u"FMKnrsu"_s;
    s.title = u"Suche nach Kunden"_s;
    s.clientTwips = {7650, 5700};
    s.termLabel = u"Kurzbez.:"_s;
    s.fields = {{u"PLZ"_s, u"PLZ:"_s, false, 5}, {u"SKGRP"_s, u"K Gruppe:"_s, true, 0}};
    s.choices.field = u"SKGRP"_s;
    s.choices.className = u"VR.ParKundenGruppen"_s;
    s.choices.query = u"Gruppen"_s;
    s.choices.argsAfterFirma = {QString(), u"J"_s};
    s.choices.emptyItemBeforeQuery = true;
    s.choices.failureText = u"FMKnrsu.Form_Load Kundengruppen für Kundensuche"_s;
    s.choices.traceFailureEnd = false;
    s.listName = u"KNRSULI"_s;
    s.firstHeader = u"KundenNr."_s;
    s.traceKeyUp = true;
    s.traceLostFocusEnd = true;
    s.tooShortTrace = u"Ende Abbruch Suchbegriff zu Kurz"_s;
    s.table = &VareloSu::knrsu_tab;
    s.search = &VareloSu::getknrsu;
    s.picked = &VareloSu::knrsu_nr;
    return s;
}
} // namespace

FMKnrsu::FMKnrsu(QWidget *parent) : SearchWindow(spec(), parent) {}
