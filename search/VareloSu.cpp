#include "search/VareloSu.h"

#include "search/FMKnrsu.h"
#include "search/FMLnrsu.h"
#include "session/cacheapi.h"

#include <QApplication>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace VareloSu {

NrsuTable knrsu_tab;
NrsuTable lnrsu_tab;
QString knrsu_nr;
QString lnrsu_nr;

namespace {

// One search through VR.Windows KkrSuche: hits into the table from index 1, at most
// MaxHits, then the window's list learns the new count. A failure keeps what was read
// but leaves the list's row count alone.
void runSearch(SearchWindow *window, NrsuTable &table, const QString &source, const QVariantList &argsAfterFirma,
               const QString &failureText)
{
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    try {
        cacheapi::BeginServerWork();
        int count = 0;
        factory::ResultSetPtr rs = cacheapi::Factory->ResultSet(u"VR.Windows"_s, u"KkrSuche"_s);
        QVariantList args{cacheapi::Firma};
        args += argsAfterFirma;
        rs->Execute(args);
        while (rs->Next()) {
            ++count;
            nrsu_satz &hit = table[std::size_t(count)];
            hit.nr = factory::toText(rs->GetData(1));
            hit.kbez = factory::toText(rs->GetData(2));
            hit.name = cacheapi::ConvertText(factory::toText(rs->GetData(3)), u"VARELO"_s, false);
            hit.plz = factory::toText(rs->GetData(4));
            hit.strasse = cacheapi::ConvertText(factory::toText(rs->GetData(5)), u"VARELO"_s, false);
            if (count >= MaxHits)
                break;
        }
        cacheapi::CloseObject(rs);
        cacheapi::EndServerWork();
        window->setListRowCount(count);
        cacheapi::Trace(source, u"Ende"_s, {}, 40);
    } catch (const factory::Error &e) {
        cacheapi::CacheFehlermeldung(e, failureText);
        cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
    } catch (const std::exception &e) {
        cacheapi::CacheFehlermeldung(e, failureText);
        cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
    }
}

template <class Window> QString pick(QWidget *owner, QString &picked, const QString &source)
{
    cacheapi::Trace(source, u"Start"_s, {}, 40);
    picked.clear();
    QPointer<Window> window = cacheapi::form<Window>();
    if (!owner)
        owner = QApplication::activeWindow();
    if (owner && owner != window)
        window->setParent(owner, window->windowFlags());
    window->exec();
    if (window)
        cacheapi::Unload(window.data());
    cacheapi::Trace(source, u"Ende"_s, {}, 40);
    return picked;
}

} // namespace

QString kundenGruppeArgument(const QString &itemText) { return itemText.left(2); }

QString sammelKontoArgument(const QString &itemText)
{
    if (itemText.isEmpty())
        return {};
    return cacheapi::Piece(itemText, u"|"_s, 1, u"1"_s);
}

void getknrsu()
{
    FMKnrsu *window = cacheapi::form<FMKnrsu>();
    const QString source = u"VareloSU.getknrsu"_s;
    QVariantList args{u"K"_s, window->fieldText(u"SKBEZ"_s),
                      kundenGruppeArgument(window->fieldText(u"SKGRP"_s)), window->fieldText(u"PLZ"_s)};
    runSearch(window, knrsu_tab, source, args, u"VareloSu getknrsu Kundennummer Suche"_s);
}

void getlnrsu()
{
    FMLnrsu *window = cacheapi::form<FMLnrsu>();
    const QString source = u"VareloSU.getlnrsu"_s;
    QString account;
    try {
        account = sammelKontoArgument(window->fieldText(u"SSKTOK"_s));
    } catch (const std::exception &e) {
        cacheapi::Trace(source, u"Start"_s, {}, 40);
        cacheapi::CacheFehlermeldung(e, u"VareloSu.getlnrsu Suche Lieferantennummer"_s);
        cacheapi::Trace(source, u"Ende mit Fehler"_s, {}, 40);
        return;
    }
    runSearch(window, lnrsu_tab, source, {u"L"_s, window->fieldText(u"SKBEZ"_s), account},
              u"VareloSu.getlnrsu Suche Lieferantennummer"_s);
}

QString bm_knr_su(QWidget *owner) { return pick<FMKnrsu>(owner, knrsu_nr, u"VareloSU.bm_knr_su"_s); }

QString bm_lnr_su(QWidget *owner) { return pick<FMLnrsu>(owner, lnrsu_nr, u"VareloSU.bm_lnr_su"_s); }

} // namespace VareloSu
