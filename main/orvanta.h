#pragma once
// Module orvanta: window placement and the program-wide values of the web interface.

#include <QString>

class QWidget;

namespace orvanta {

// The tenant's dbpraefix from orvanta.param; the customer, negative-list and article
// classes are this prefix followed by "kunde", "liefneg" and "artikel".
extern QString Dbpraefix;
// The current tenant's interface mode as the server answered it ("server", "ftp").
extern QString Modus;

// Placement under application "OrvantaWeb", section "Windowpos": left|top|width|height in twips.
bool WindowposLaden(QWidget *window, const QString &key);
void WindowposSichern(QWidget *window, const QString &key);

int twipsPerPixelX(); // 15 at 96 dpi
int twipsPerPixelY();

} // namespace orvanta
