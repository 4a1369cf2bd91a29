// Conversion of a Jet file to a database of the engine.
#include <ostream>
#include <vector>

#include "Outil.h"

namespace outil {
namespace {

std::string VersionDuFichier(moteur::FormatFichier format) {
  return format == moteur::FormatFichier::Jet3 ? "3.0" : "4.0";
}

}  // namespace

int ConvertitBase(const std::string& source, const std::string& destination, const std::string& version,
                  std::ostream& sortie) {
  if (!version.empty() && version != "3.0" && version != "4.0")
    throw ErreurOutil(moteur::err::OperationInvalide, moteur::DescriptionErreur(moteur::err::OperationInvalide) +
                                                          " Version '" + version +
                                                          "' inconnue : '3.0' ou '4.0' attendu.");
  const moteur::FormatFichier format = moteur::FormatDuFichier(source);
  if (format == moteur::FormatFichier::Absent)
    throw ErreurOutil(moteur::err::FichierIntrouvable,
                      moteur::DescriptionErreur(moteur::err::FichierIntrouvable, {source}));
  if (format == moteur::FormatFichier::Moteur)
    throw ErreurOutil(moteur::err::OperationInvalide, moteur::DescriptionErreur(moteur::err::OperationInvalide) +
                                                          " '" + source +
                                                          "' est déjà une base du moteur : il n'y a rien à convertir.");
  // A later format or a file of no known kind: the engine says what it is.
  const std::string versionCree = version.empty() ? VersionDuFichier(format) : version;
  std::vector<std::string> pertes;
  moteur::ConvertitJet(source, destination, versionCree, pertes);
  // What a damaged file's reading left out comes first, each as the journal would say it.
  for (const auto& ligne : pertes) sortie << ligne << "\n";

  // What was made, read back from the new file: the user sees at once that nothing is missing.
  moteur::Database base = moteur::DBEngine::OpenDatabase(destination, false, true);
  long long tables = 0, enregistrements = 0;
  auto definitions = base.TableDefs();
  for (int i = 0; i < definitions.Count(); ++i) {
    moteur::TableDef table = definitions[i];
    if (table.Attributes() & moteur::dbSystemObject) continue;
    ++tables;
    enregistrements += table.RecordCount();
  }
  base.Close();
  sortie << "Base convertie : " << destination << " (Jet " << VersionDuFichier(format) << " vers la version "
         << versionCree << ", " << tables << (tables > 1 ? " tables, " : " table, ") << enregistrements
         << (enregistrements > 1 ? " enregistrements" : " enregistrement") << ").\n";
  return 0;
}

}  // namespace outil
