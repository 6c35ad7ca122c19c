#pragma once
// Table names of the application's classes; the seed and the jobs write them directly.
// Fixed names from this file are the only names spliced into SQL.

#include <QString>

namespace server::classes::tables {

inline const QString firma = QStringLiteral("vr_firma");                 // VR.Firma
inline const QString persEdv = QStringLiteral("vr_parpersedv");          // VR.ParPersEdv
inline const QString persAbt = QStringLiteral("vr_parpersabt");          // VR.ParPersAbt
inline const QString persBasis = QStringLiteral("vr_persbasis");         // VR.PersBasis
inline const QString standort = QStringLiteral("vr_standort");           // VR.Standort
inline const QString arbeitsplatz = QStringLiteral("vr_arbeitsplatz");   // VR.Arbeitsplatz
inline const QString kassaSW = QStringLiteral("vr_kassasw");             // VR.KassaSW
inline const QString kkr = QStringLiteral("vr_kkr");                     // VR.KKR
inline const QString kundenGruppen = QStringLiteral("vr_parkundengruppen"); // VR.ParKundenGruppen
inline const QString sammelKonten = QStringLiteral("vr_kontosammelkontokreis"); // VR.KontoSammelKontoKreis
inline const QString warengruppe = QStringLiteral("vr_warengruppe");     // VR.Warengruppe
inline const QString artikeltyp = QStringLiteral("vr_artikeltyp");       // VR.Artikeltyp
inline const QString artikel = QStringLiteral("vr_artikel");             // VR.Artikel
inline const QString param = QStringLiteral("orvanta_param");            // orvanta.param
inline const QString wargr = QStringLiteral("orvanta_wargr");            // orvanta.wargr
inline const QString atyp = QStringLiteral("orvanta_atyp");              // orvanta.atyp
inline const QString webKunde = QStringLiteral("orvanta_webkunde");      // orvanta.webkunde
inline const QString webLiefNeg = QStringLiteral("orvanta_webliefneg");  // orvanta.webliefneg
inline const QString stapelArtikel = QStringLiteral("orvanta_stapelartikel"); // orvanta.stapelartikel
inline const QString stapelKond = QStringLiteral("orvanta_stapelkond");  // orvanta.stapelkond
inline const QString gwPreis = QStringLiteral("orvanta_gwpreis");        // orvanta.gwpreis
inline const QString gwKond = QStringLiteral("orvanta_gwkond");          // orvanta.gwkond

} // namespace server::classes::tables
