// Product groups, article types and articles of the demo business.

#include "server/classes/seed.h"

#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes::seed {

namespace {

struct MainGroup
{
    int nr;
    const char16_t *name;
    QList<const char16_t *> subs; // numbered from 1
};

const QList<MainGroup> &fullGroups()
{
    static const QList<MainGroup> groups = {
        {1, u"Baustoffe", {u"Zement und Mörtel", u"Mauersteine", u"Putze", u"Estrich"}},
        {2, u"Holz", {u"Schnittholz", u"Plattenwerkstoffe", u"Leisten", u"Konstruktionsvollholz"}},
        {3, u"Eisenwaren", {u"Ketten und Seile", u"Drahtwaren", u"Gitter"}},
        {4, u"Befestigungstechnik", {u"Schrauben", u"Dübel", u"Nägel", u"Muttern und Scheiben", u"Anker"}},
        {5, u"Werkzeuge", {u"Handwerkzeuge", u"Messwerkzeuge", u"Elektrowerkzeuge", u"Werkzeugzubehör",
                           u"Schraubendreher", u"Sägen"}},
        {6, u"Elektro", {u"Kabel und Leitungen", u"Schalter und Steckdosen", u"Leuchtmittel",
                         u"Installationsmaterial"}},
        {7, u"Sanitär", {u"Armaturen", u"Keramik", u"Rohre und Fittings", u"Duschen"}},
        {8, u"Heizung", {u"Heizkörper", u"Thermostate", u"Kessel"}},
        {9, u"Farben und Lacke", {u"Wandfarben", u"Lacke", u"Lasuren", u"Malerzubehör"}},
        {10, u"Gartenbedarf", {u"Gartengeräte", u"Bewässerung", u"Zäune", u"Erden und Dünger"}},
        {11, u"Arbeitsschutz", {u"Handschuhe", u"Schutzbrillen", u"Gehörschutz", u"Sicherheitsschuhe"}},
        {12, u"Beschläge", {u"Türbeschläge", u"Fensterbeschläge", u"Möbelbeschläge", u"Schlösser"}},
        {13, u"Fliesen", {u"Wandfliesen", u"Bodenfliesen", u"Fliesenkleber"}},
        {14, u"Dämmstoffe", {u"Mineralwolle", u"Hartschaum", u"Trittschalldämmung"}},
        {15, u"Türen und Tore", {u"Innentüren", u"Haustüren", u"Garagentore"}},
        {16, u"Fenster", {u"Kunststofffenster", u"Holzfenster", u"Dachfenster"}},
        {17, u"Bodenbeläge", {u"Laminat", u"Parkett", u"Teppichböden", u"Vinylböden"}},
        {18, u"Klebstoffe und Dichtstoffe", {u"Silikone", u"Montagekleber", u"Bauschaum"}},
        {19, u"Maschinen", {u"Kompressoren", u"Stromerzeuger", u"Betonmischer"}},
        {20, u"Büro und Lager", {u"Regale", u"Transportgeräte", u"Büromaterial"}},
    };
    return groups;
}

// Tenant 2 carries a small range: main groups 1 and 5 with a few subgroups of the same names.
QList<MainGroup> smallGroups()
{
    const auto &all = fullGroups();
    return {{1, all[0].name, {all[0].subs[0], all[0].subs[1]}},
            {5, all[4].name, {all[4].subs[0], u"Messwerkzeuge", all[4].subs[2]}}};
}

struct Type { const char16_t *code; const char16_t *name; };
const Type fullTypes[] = {
    {u"A", u"Auslaufartikel"}, {u"B", u"Bestellartikel"}, {u"D", u"Dienstleistung"}, {u"E", u"Ersatzteil"},
    {u"K", u"Kommissionsartikel"}, {u"L", u"Lagerartikel"}, {u"N", u"Normalartikel"}, {u"P", u"Pfandartikel"},
    {u"S", u"Sonderartikel"}, {u"Z", u"Zubehör"}};

const char16_t *const variants[] = {u"Standard", u"Profi", u"Premium", u"Kompakt", u"XL", u"Spezial"};
const char16_t *const units[] = {u"Stück", u"Packung", u"Meter", u"Sack", u"Rolle", u"Karton"};
const char16_t *const typeMix[] = {u"N", u"N", u"N", u"N", u"S", u"L", u"A", u"Z"};

} // namespace

void seedCatalogue(QSqlDatabase db, const QString &firma, std::uint64_t randomSeed)
{
    Random rnd(randomSeed);
    const bool full = firma == u"1"_s;
    const QList<MainGroup> groups = full ? fullGroups() : smallGroups();

    Inserter group(db, tables::warengruppe, {u"id"_s, u"Firma"_s, u"HGRP"_s, u"UGRP"_s, u"Bez"_s});
    Inserter article(db, tables::artikel,
                     {u"id"_s, u"Firma"_s, u"Artnr"_s, u"Bez"_s, u"HGRP"_s, u"UGRP"_s, u"Atyp"_s, u"Einheit"_s,
                      u"Preis"_s, u"GueltigAb"_s, u"Lieferant"_s});
    const int suppliers = full ? 300 : 30;
    for (const MainGroup &g : groups) {
        group.row({joinId({firma, QString::number(g.nr), u"0"_s}), firma, g.nr, 0, toServerForm(QString::fromUtf16(g.name))});
        for (int s = 1; s <= g.subs.size(); ++s) {
            const QString subName = QString::fromUtf16(g.subs[s - 1]);
            group.row({joinId({firma, QString::number(g.nr), QString::number(s)}), firma, g.nr, s, toServerForm(subName)});
            const int perGroup = full ? 3 : 2;
            for (int v = 1; v <= perGroup; ++v) {
                const QString artnr = QString::number(g.nr * 10000 + s * 100 + v);
                // A few articles become valid only later, so a catalogue as of today leaves them out.
                QString validFrom = rnd.below(10) == 0 ? u"2030-01-01"_s : u"2025-01-01"_s;
                const double price = (100 + rnd.below(49900)) / 100.0;
                QString atyp = QString::fromUtf16(full ? rnd.pick(typeMix) : u"N");
                qint64 supplier = 70001 + rnd.below(suppliers);
                // Baustoffe: all normal articles valid now, the first of each subgroup from
                // supplier 70002, which the demo's negative list excludes.
                if (g.nr == 1) {
                    atyp = u"N"_s;
                    validFrom = u"2025-01-01"_s;
                    if (v == 1)
                        supplier = 70002;
                    else if (supplier == 70002)
                        supplier = 70003;
                }
                article.row({joinId({firma, artnr}), firma, artnr,
                             toServerForm(subName + u' ' + QString::fromUtf16(rnd.pick(variants))), g.nr, s, atyp,
                             toServerForm(QString::fromUtf16(rnd.pick(units))), price, validFrom, supplier});
            }
        }
    }

    Inserter type(db, tables::artikeltyp, {u"id"_s, u"Firma"_s, u"Code"_s, u"Bez"_s});
    for (const Type &t : fullTypes) {
        const QString code = QString::fromUtf16(t.code);
        if (full || code == u"N"_s || code == u"S"_s)
            type.row({joinId({firma, code}), firma, code, toServerForm(QString::fromUtf16(t.name))});
    }
}

} // namespace server::classes::seed
