// Customers and suppliers of the demo business: many, believable, with umlauts.

#include "server/classes/seed.h"

#include "server/classes/sqlutil.h"
#include "server/classes/tables.h"
#include "server/classes/textform.h"

using namespace Qt::StringLiterals;

namespace server::classes::seed {

namespace {

// Every fourth customer gets one of these, so a search for "MA" always finds more than 500.
const char16_t *const maNames[] = {u"Maier", u"Mayer", u"Mahler", u"Mann", u"Marx", u"Martin", u"Maurer",
                                   u"Maas", u"Mack", u"Mai", u"Marquardt", u"Mattes", u"Mahnke", u"März",
                                   u"Maßmann", u"Mäder"};
const char16_t *const surnames[] = {
    u"Müller", u"Schäfer", u"Bäcker", u"Köhler", u"Jäger", u"Krüger", u"Weiß", u"Groß", u"Schröder",
    u"Böhm", u"Fuß", u"Hölzl", u"Kühn", u"Vogel", u"Becker", u"Schmidt", u"Schneider", u"Fischer",
    u"Wagner", u"Hoffmann", u"Schulz", u"Koch", u"Richter", u"Klein", u"Wolf", u"Neumann", u"Schwarz",
    u"Zimmermann", u"Braun", u"Hartmann", u"Lange", u"Werner", u"Krause", u"Lehmann", u"Günther",
    u"Röder", u"Strauß", u"Öztürk", u"Ühlein", u"Äbersold", u"Maier", u"Martin", u"Mayer"};
const char16_t *const trades[] = {
    u"Bau GmbH", u"Elektro GmbH", u"Sanitär KG", u"Holzbau GmbH & Co. KG", u"Metallbau e.K.",
    u"Dachdeckerei", u"Malerbetrieb", u"Gärtnerei", u"Bäckerei", u"Haustechnik GmbH", u"Fliesenlegerei",
    u"Tischlerei", u"Schlosserei OHG", u"Gaststätte", u"Hausverwaltung", u"Garten- und Landschaftsbau"};
const char16_t *const supplierTrades[] = {
    u"Metall KG", u"Holzhandel GmbH", u"Baustoffe GmbH", u"Werkzeugbau AG", u"Elektrogroßhandel",
    u"Sanitärgroßhandel GmbH", u"Beschläge KG", u"Farbenwerk GmbH", u"Schraubenfabrik", u"Stahlhandel GmbH"};
const char16_t *const streets[] = {
    u"Hauptstraße", u"Bahnhofstraße", u"Schloßallee", u"Mühlenweg", u"Gartenstraße", u"Kirchplatz",
    u"Lindenstraße", u"Am Rübenacker", u"Königsweg", u"Bürgerstraße", u"Industriestraße", u"Gewerbering",
    u"Rosenstraße", u"Schützenstraße", u"Lößweg"};
struct City { const char16_t *plz; const char16_t *ort; };
const City cities[] = {
    {u"80331", u"München"}, {u"20095", u"Hamburg"}, {u"50667", u"Köln"}, {u"90402", u"Nürnberg"},
    {u"70173", u"Stuttgart"}, {u"01067", u"Dresden"}, {u"04109", u"Leipzig"}, {u"28195", u"Bremen"},
    {u"30159", u"Hannover"}, {u"60311", u"Frankfurt am Main"}, {u"99084", u"Erfurt"}, {u"24103", u"Kiel"},
    {u"97070", u"Würzburg"}, {u"33602", u"Bielefeld"}, {u"48143", u"Münster"}, {u"86150", u"Augsburg"},
    {u"93047", u"Regensburg"}, {u"66111", u"Saarbrücken"}, {u"18055", u"Rostock"},
    {u"79098", u"Freiburg im Breisgau"}, {u"49074", u"Osnabrück"}, {u"37073", u"Göttingen"},
    {u"80333", u"München"}, {u"80335", u"München"}};
const int groups[] = {1, 2, 3, 7, 12};

struct Partner
{
    qint64 nr;
    QString kbez; // search form already
    QString name, strasse, plz, ort; // display form
    QVariant kgrp, sakto;
};

class PartnerWriter
{
public:
    PartnerWriter(QSqlDatabase db, const QString &firma)
        : m_firma(firma),
          m_insert(db, tables::kkr,
                   {u"id"_s, u"Firma"_s, u"Art"_s, u"Nr"_s, u"KBEZ"_s, u"Such"_s, u"Name"_s, u"Strasse"_s, u"PLZ"_s,
                    u"Ort"_s, u"KGRP"_s, u"SAKTO"_s},
                   200)
    {
    }
    void write(const QString &art, const Partner &p)
    {
        const QString nr = QString::number(p.nr);
        m_insert.row({QString(m_firma + u"||"_s + art + u"||"_s + nr), m_firma, art, p.nr, p.kbez, p.kbez,
                      toServerForm(p.name), toServerForm(p.strasse), p.plz, toServerForm(p.ort), p.kgrp, p.sakto});
    }

    void finish() { m_insert.finish(); }

private:
    QString m_firma;
    Inserter m_insert;
};

Partner randomAddress(Random &rnd, qint64 nr, const QString &surname)
{
    const City &city = rnd.pick(cities);
    Partner p;
    p.nr = nr;
    p.kbez = toSearchForm(surname);
    p.strasse = QString::fromUtf16(rnd.pick(streets)) + u' ' + QString::number(1 + rnd.below(120));
    p.plz = QString::fromUtf16(city.plz);
    p.ort = QString::fromUtf16(city.ort);
    return p;
}

} // namespace

void seedPartners(QSqlDatabase db, const QString &firma, PartnerCounts counts, std::uint64_t randomSeed)
{
    Random rnd(randomSeed);
    PartnerWriter out(db, firma);

    for (int i = 0; i < counts.customers; ++i) {
        const qint64 nr = 10001 + i;
        if (i == 0) {
            out.write(u"K"_s, Partner{nr, u"MUELLER"_s, u"Müller Bau GmbH"_s, u"Hauptstraße 1"_s, u"80331"_s,
                                      u"München"_s, 1, QVariant()});
            continue;
        }
        const QString surname = QString::fromUtf16(i % 4 == 0 ? rnd.pick(maNames) : rnd.pick(surnames));
        Partner p = randomAddress(rnd, nr, surname);
        p.name = surname + u' ' + QString::fromUtf16(rnd.pick(trades));
        p.kgrp = i == 1 ? 7 : rnd.pick(groups);
        out.write(u"K"_s, p);
    }

    for (int i = 0; i < counts.suppliers; ++i) {
        const qint64 nr = 70001 + i;
        if (i == 0) {
            out.write(u"L"_s, Partner{nr, u"GROESSER"_s, u"Größer Metall KG"_s, u"Industriestraße 12"_s,
                                      u"90402"_s, u"Nürnberg"_s, QVariant(), 1610});
            continue;
        }
        const QString surname = QString::fromUtf16(rnd.pick(surnames));
        Partner p = randomAddress(rnd, nr, surname);
        p.name = surname + u' ' + QString::fromUtf16(rnd.pick(supplierTrades));
        p.sakto = rnd.below(5) == 0 ? 1610 : 1600;
        out.write(u"L"_s, p);
    }
    out.finish();
}

} // namespace server::classes::seed
