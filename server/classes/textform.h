#pragma once
// The three forms of merchandise-system text: the server form the data are stored in
// (umlauts as "{", "|", "}", "~", "[", "\", "]", "§" as "õ"), the display form users read,
// and the search form short names are compared in (upper case, "SS", "AE", "OE", "UE").

#include <QString>

namespace server::classes {

QString toServerForm(const QString &display);
QString toDisplayForm(const QString &stored);
// From display text; server-form text must be turned into display form first.
QString toSearchForm(const QString &display);

} // namespace server::classes
