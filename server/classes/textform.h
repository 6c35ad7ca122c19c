#pragma once
// The three forms of merchandise-system text: the server form the data are stored in
// (umlauts as "{", "|", "}", "~", "[", "\", "]", "§" as "õ"), the display form users read,
// and the search form short names are compared in (upper case, "SS", "AE", "OE", "UE").

#include <QByteArrayView>
#include <QString>

namespace server::classes {

QString toServerForm(const QString &display);
QString toDisplayForm(const QString &stored);
// Whether toDisplayForm() leaves the stored text (UTF-8) as it is: most texts have no umlaut.
bool sameInDisplayForm(QByteArrayView storedUtf8);
// From display text; server-form text must be turned into display form first.
QString toSearchForm(const QString &display);

} // namespace server::classes
