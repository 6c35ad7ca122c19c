#include "search/FMLnrsu.h"

using namespace Qt::StringLiterals;

namespace {
SearchWindowSpec spec()
{
    SearchWindowSpec s;
    s.name = u"FMLnrsu"_s;
    s.title = u"Suche nach Lieferant"_s;
    s.clientTwips = {7650, 5745};
    s.termLabel = u"Kurzbezeichnung:"_s;
    s.fields = {{u"SSKTOK"_s, u"SAKonto:"_s, true, 0}};
    s.choices.field = u"SSKTOK"_s;
    s.choices.className = u"VR.KontoSammelKontoKreis"_s;
    s.choices.query = u"SaKontoBez"_s;
    s.choices.argsAfterFirma = {u"L"_s, QString(), QString()};
    s.choices.emptyItemBeforeQuery = false;
    s.choices.failureText = u"FMLnrsu.Form_Load Lieferantensuche: Lieferantenarten"_s;
    s.choices.traceFailureEnd = true;
    s.listName = u"LNRSULI"_s;
    s.firstHeader = u"Lieferant.Nr."_s;
    s.traceKeyUp = false;
    s.tooShortTrace = u"Ende Abbruch Suchbegriff zu kurz"_s;
    s.table = &VareloSu::lnrsu_tab;
    s.search = &VareloSu::getlnrsu;
    s.picked = &VareloSu::lnrsu_nr;
    return s;
}
} // namespace

FMLnrsu::FMLnrsu(QWidget *parent) : SearchWindow(spec(), parent) {}
