#pragma once
// The class files' entry points, called by registerApplicationClasses, and the small
// declaration helpers they share.

#include "server/classdecl.h"

namespace server::classes {

// A property kept as given.
PropertyDecl plain(const QString &name);
// A property kept in server form, with its display form ("<name>LogicalToODBC").
PropertyDecl shown(const QString &name);
QList<PropertyDecl> plainProperties(const QStringList &names);

void registerTenants(ClassRegistry &registry);       // VR.Firma, orvanta.param
void registerPersonnel(ClassRegistry &registry);     // VR.ParPersEdv, VR.ParPersAbt, VR.PersBasis
void registerLocations(ClassRegistry &registry);     // RUZAVAVIR.Menue, VR.Standort, VR.Arbeitsplatz
void registerServerEntries(ClassRegistry &registry); // VR.KassaSW
void registerPartners(ClassRegistry &registry);      // VR.KKR, KkrSuche, groups, collective accounts
void registerProductGroups(ClassRegistry &registry); // VR.Warengruppe, orvanta.wargr
void registerArticles(ClassRegistry &registry);      // VR.Artikeltyp, VR.Artikel, orvanta.atyp
void registerWebLists(ClassRegistry &registry);      // prefix classes and their stored lists
void registerJobs(ClassRegistry &registry);          // orvanta.kond, orvanta.gateway, job tables

} // namespace server::classes
