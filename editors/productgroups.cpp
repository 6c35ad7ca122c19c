#include "editors/productgroups.h"

#include "factory/factory.h"
#include "session/cacheapi.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace editors::choice {

QString ProductGroupRow::ownNumber() const { return plainNumber(isMainGroup() ? main : sub); }

QString ProductGroupRow::key() const { return plainNumber(main) + u'|' + plainNumber(sub); }

ProductGroupRow parseProductGroupRecord(const QString &record)
{
    auto field = [&](int n) { return cacheapi::Piece(record, u"|"_s, n); };
    ProductGroupRow row;
    row.main = factory::toNumber(field(1));
    row.sub = factory::toNumber(field(2));
    row.description = field(3);
    row.selected = factory::toNumber(field(4)) != 0;
    row.override = factory::toNumber(field(5)) != 0;
    return row;
}

QString plainNumber(double value) { return factory::toText(QVariant(value)); }

QString twoDigits(const QString &number)
{
    // Whole digits only, rounded half away from zero, as a "00" number format does.
    const double rounded = std::round(factory::toNumber(number));
    const QString digits = QString::number(std::fabs(rounded), 'f', 0).rightJustified(2, u'0');
    return rounded < 0 ? u'-' + digits : digits;
}

QString keyMainGroup(const QString &key) { return cacheapi::Piece(key, u"|"_s, 1); }

QString keySubGroup(const QString &key) { return cacheapi::Piece(key, u"|"_s, 2); }

QString numwarengruppe(const QString &key) { return twoDigits(keyMainGroup(key)) + twoDigits(keySubGroup(key)); }

} // namespace editors::choice
