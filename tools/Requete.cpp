// The "sql" sub-command: one statement of the engine's dialect.
#include <ostream>

#include "Outil.h"
#include "texte/Texte.h"

namespace outil {

namespace {

bool EstSelection(std::string_view instruction) {
  std::size_t debut = instruction.find_first_not_of(" \t\r\n");
  if (debut == std::string_view::npos) return false;
  std::string mot;
  for (std::size_t i = debut; i < instruction.size() && mot.size() < 7; ++i) {
    char c = instruction[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) break;
    mot += texte::MinusculeAscii(c);
  }
  return mot == "select";
}

// One record a line, one field a column: a tab or line break inside a value must not start a
// new one.
std::string Echappe(const std::string& texte) {
  std::string sortie;
  sortie.reserve(texte.size());
  for (char c : texte) {
    switch (c) {
      case '\t':
        sortie += "\\t";
        break;
      case '\n':
        sortie += "\\n";
        break;
      case '\r':
        sortie += "\\r";
        break;
      case '\\':
        sortie += "\\\\";
        break;
      default:
        sortie += c;
    }
  }
  return sortie;
}

}  // namespace

int ExecuteInstruction(const std::string& chemin, const std::string& instruction, std::ostream& sortie,
                       std::ostream& avertissements) {
  if (!EstSelection(instruction)) {
    moteur::Database base = moteur::DBEngine::OpenDatabase(chemin);
    // All or nothing, and the reason when it is nothing: a silently skipped record would look
    // like a success.
    base.Execute(instruction, moteur::dbFailOnError);
    sortie << "Enregistrements affectés : " << base.RecordsAffected() << '\n';
    base.Close();
    return 0;
  }
  moteur::Database base = moteur::DBEngine::OpenDatabase(chemin, false, true);
  moteur::Recordset rs = base.OpenRecordset(instruction, moteur::dbOpenSnapshot);
  auto champs = rs.Fields();
  int n = champs.Count();
  for (int i = 0; i < n; ++i) sortie << (i ? "\t" : "") << Echappe(champs[i].Name());
  sortie << '\n';
  long long illisibles = 0;
  for (; !rs.Eof(); rs.MoveNext()) {
    for (int i = 0; i < n; ++i) {
      std::string texte;
      try {
        texte = Echappe(rs[i].Value().EnTexte());
      } catch (const moteur::ErreurMoteur& e) {
        if (e.Number() != moteur::err::FormatNonReconnu) throw;
        texte = "#Illisible";
        ++illisibles;
      }
      sortie << (i ? "\t" : "") << texte;
    }
    sortie << '\n';
  }
  rs.Close();
  base.Close();
  if (illisibles)
    avertissements << "Attention : " << illisibles
                   << (illisibles > 1 ? " valeurs illisibles comme le type de leur champ (erreur 3343) sont affichées"
                                      : " valeur illisible comme le type de son champ (erreur 3343) est affichée")
                   << " « #Illisible ».\n";
  return 0;
}

}  // namespace outil
