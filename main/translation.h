#pragma once
// The program speaks German whatever the system's language: Qt's own dialogs and standard
// buttons too ("Ja", "Nein", "Abbrechen").

class QCoreApplication;

namespace orvanta {
// German as the default locale and Qt's German translation installed; false when the
// translation file is missing (the program still runs, with Qt's English button texts).
bool installGermanTranslation(QCoreApplication &app);
} // namespace orvanta
