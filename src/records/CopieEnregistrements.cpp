#include "records/CopieEnregistrements.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bases/BaseDonnees.h"
#include "common/Chemins.h"
#include "common/Fichiers.h"
#include "common/InterfaceFenetre.h"
#include "journal/Journal.h"
#include "journal/TexteValeur.h"
#include "moteur/Noms.h"
#include "texte/Texte.h"

namespace utireorg {
namespace {

using moteur::Essaie;
using moteur::Resultat;

constexpr const char* TitreCopie = "Copie des enregistrements";

// Number of records of a table, read through a one-line query; nothing when it cannot be read,
// so that an unreadable count never passes for an equal one.
std::optional<long long> CompteEnregistrements(moteur::Database& base, const std::string& nom, int type) {
  std::optional<long long> compte;
  moteur::Recordset rs;
  Essaie([&] {
    rs = base.OpenRecordset("select count(*) from " + texte::CiteCrochets(nom), type);
    compte = rs.Fields()[0].Value().EnEntier();
  });
  FermeTable(rs);
  return compte;
}

std::string EnDecimal(const std::optional<long long>& compte) { return std::to_string(compte.value_or(0)); }

// Creates the property on the destination field with the value of the same-named property of
// the source field; a source without it, a destination field missing, or a property already
// there, all leave the destination as it was.
void CopiePropriete(const moteur::Field& source, moteur::Field& destination, const char* nom, int type) {
  Essaie([&] {
    moteur::Valeur valeur = source.Properties()[nom].Value();
    destination.Properties().Append(destination.CreateProperty(nom, type, valeur));
  });
}

// The data dictionary lives in field properties, which a copy of the records leaves behind.
void CopieDictionnaire(moteur::Database& dbOrig, moteur::Database& dbDest, const std::string& nom) {
  moteur::TableDef tableOrig, tableDest;
  if (!Essaie([&] {
        tableOrig = dbOrig.TableDefs()[nom];
        tableDest = dbDest.TableDefs()[nom];
      }))
    return;
  int nombre = 0;
  if (!Essaie([&] { nombre = tableOrig.Fields().Count(); })) return;
  for (int i = 0; i < nombre; ++i) {
    moteur::Field source, destination;
    if (!Essaie([&] { source = tableOrig.Fields()[i]; })) continue;
    bool destinationTrouvee = static_cast<bool>(Essaie([&] { destination = tableDest.Fields()[source.Name()]; }));
    if (Essaie([&] { source.Properties()["NomClair"].Value(); }) && destinationTrouvee) {
      CopiePropriete(source, destination, "NomClair", moteur::dbText);
      CopiePropriete(source, destination, "VEKFormat", moteur::dbText);
    }
    if (Essaie([&] { source.Properties()["Supplement"].Value(); }) && destinationTrouvee) {
      CopiePropriete(source, destination, "Supplement", moteur::dbBoolean);
      CopiePropriete(source, destination, "FormatSaisie", moteur::dbText);
    }
  }
}

// The bulk statement is executed through the source database, which a Jet file, only ever read,
// refuses. Its records are therefore copied from a converted image of it, which lives in the
// temporary folder for the time of the copy. When the image cannot be made, the copy reads the
// Jet file itself, record by record, and the journal tells why the bulk statement failed.
class ImageJet {
 public:
  explicit ImageJet(moteur::Database& source) : source_(&source) {
    std::string nom;
    if (!Essaie([&] { nom = source.Name(); }) || !moteur::EstFichierJet(nom)) return;
    std::string version = "4.0";
    Essaie([&] { version = source.Version(); });
    moteur::IgnoreEchec("without the image, the Jet file is read as it is", [&] {
      chemin_ = CreeTemporaireTenu(DossierTemporaire(), "JET");
      SupprimeFichier(chemin_);  // the conversion writes a new file
      moteur::ConvertitJet(nom, chemin_, version);
      image_ = OuvreBase(chemin_);
      source_ = &image_;
    });
  }
  ~ImageJet() {
    FermeBase(image_);
    LibereTemporaire(chemin_);
  }
  ImageJet(const ImageJet&) = delete;
  ImageJet& operator=(const ImageJet&) = delete;

  moteur::Database& Source() { return *source_; }

 private:
  moteur::Database* source_;
  moteur::Database image_;
  std::string chemin_;
};

// The target's own tables, in the order it lists them; a table that cannot be read is left out.
std::vector<std::string> TablesACopier(moteur::Database& dbOrig, int nombreTables) {
  std::vector<std::string> noms;
  for (int i = 0; i < nombreTables; ++i) {
    Essaie([&] {
      moteur::TableDef table = dbOrig.TableDefs()[i];
      if (!(table.Attributes() & moteur::dbSystemObject)) noms.push_back(table.Name());
    });
  }
  return noms;
}

// Each relation of the copy as (parent, child): a child's records are refused until the records
// they refer to are in.
std::vector<std::pair<std::string, std::string>> Dependances(moteur::Database& dbDest) {
  std::vector<std::pair<std::string, std::string>> liens;
  Essaie([&] {
    moteur::Relations relations = dbDest.Relations();
    for (int i = 0; i < relations.Count(); ++i) {
      moteur::Relation r = relations[i];
      if (!moteur::MemeNom(r.Table(), r.ForeignTable())) liens.emplace_back(r.Table(), r.ForeignTable());
    }
  });
  return liens;
}

// The target's order, except that a table comes after the tables it depends on: copied first, a
// child's records would be refused for want of their parent. Where relations go round in a
// circle, the target's order decides.
std::vector<std::string> OrdreDeCopie(moteur::Database& dbDest, std::vector<std::string> restantes) {
  const auto liens = Dependances(dbDest);
  auto restante = [&](const std::string& nom) {
    return std::any_of(restantes.begin(), restantes.end(), [&](const auto& r) { return moteur::MemeNom(r, nom); });
  };
  auto attendUnParent = [&](const std::string& nom) {
    return std::any_of(liens.begin(), liens.end(),
                       [&](const auto& l) { return moteur::MemeNom(l.second, nom) && restante(l.first); });
  };
  std::vector<std::string> ordre;
  while (!restantes.empty()) {
    auto prete = std::find_if_not(restantes.begin(), restantes.end(), attendUnParent);
    if (prete == restantes.end()) prete = restantes.begin();
    ordre.push_back(*prete);
    restantes.erase(prete);
  }
  return ordre;
}

// Every table about to receive records is emptied before the first is filled: emptied one by one
// just before its own copy, a parent table related with cascading deletes would take with it the
// records already copied into its children, after the journal had counted them. Children go
// first, so that a relation without cascading deletes lets their parents be emptied too.
void VideTablesCopiees(moteur::Database& dbDest, const std::vector<std::string>& ordreDeCopie) {
  for (auto it = ordreDeCopie.rbegin(); it != ordreDeCopie.rend(); ++it) {
    const std::string& nom = *it;
    Essaie([&] {
      dbDest.TableDefs()[nom].Name();
      dbDest.Execute("DELETE * FROM " + texte::CiteCrochets(nom));
    });
  }
}

// Counts what the copy added against what the target holds; a count that could not be taken
// counts nothing.
void CompteCopie(EtatReorganisation& etat, const std::string& nom, std::optional<long long> source,
                 std::optional<long long> copie) {
  if (!source || !copie) return;
  ComptesTable& comptes = etat.compteurs.Table(nom);
  comptes.copies = static_cast<long>(*copie);
  comptes.refuses = static_cast<long>(std::max(0LL, *source - *copie));
}

// The record as its user knows it: by its primary key, else by its first field.
std::string Identifiant(moteur::Database& base, const std::string& nom, moteur::Recordset& rs) {
  std::vector<std::string> cle = ChampsDeLaCle(base, nom);
  if (cle.empty()) Essaie([&] { cle.push_back(rs.Fields()[0].Name()); });
  std::string texte;
  for (const auto& champ : cle) {
    std::string valeur;
    Essaie([&] { valeur = TexteJournal(rs[champ].Value()); });
    texte += (texte.empty() ? "" : ", ") + champ + " = " + valeur;
  }
  return texte;
}

// The bulk statement copies the stored bytes as they are: a text another program wrote whose bytes
// form no UTF-8 would reach the copy, which no later reading gives back. It becomes Null there, or
// an empty text where the field requires a value and allows it, and the journal keeps its bytes.
// One SQL pass over the copied table finds them; only those records are read.
bool RemplaceTextesIllisibles(EtatReorganisation& etat, moteur::Database& dbDest, const std::string& nom) {
  std::vector<moteur::TexteIllisible> illisibles;
  if (!Essaie([&] { illisibles = moteur::TextesIllisibles(dbDest, nom); }) || illisibles.empty()) return true;
  const std::string copie = NomFichier(dbDest.Name());
  bool remplaces = true;
  moteur::Recordset rs;
  Essaie([&] { rs = dbDest.OpenRecordset(nom, moteur::dbOpenTable); });
  for (const auto& illisible : illisibles) {
    std::string ou = "Table '" + nom + "' de " + copie;
    bool vide = false;
    Resultat r = Essaie([&] {
      rs.SetBookmark(illisible.signet);
      ou += ", enregistrement " + Identifiant(dbDest, nom, rs);
      moteur::Field champ = rs[illisible.champ];
      vide = champ.Required() && champ.AllowZeroLength();
      rs.Edit();
      champ.SetValue(vide ? moteur::Valeur(std::string()) : moteur::Valeur::Nul());
      rs.Update();
    });
    const std::string octets = " (octets lus : \"" + moteur::Affichable(illisible.octets) + "\").";
    if (r) {
      etat.journal.EcritureJournal("#ALERT# " + ou + " : la valeur du champ '" + illisible.champ +
                                   "' est illisible, remplacée par " + (vide ? "un texte vide" : "Null") + octets);
      continue;
    }
    Essaie([&] {
      if (rs.EditMode() != 0) rs.CancelUpdate();
    });
    etat.journal.EcritureJournal("#ERR# " + ou + " : la valeur du champ '" + illisible.champ +
                                 "' est illisible et n'a pas pu être remplacée (erreur " + std::to_string(r.Number) +
                                 " : " + r.Description + ")" + octets);
    remplaces = false;
  }
  FermeTable(rs);
  return remplaces;
}

}  // namespace

bool TraitementCopie(EtatReorganisation& etat, moteur::Database& dbOrigine, moteur::Database& dbDest) {
  bool resultat = true;
  etat.journal.SectionJournal(TitreCopie);
  etat.journal.AffichageAvancement(TitreCopie, "Veuillez patienter...");
  ImageJet image(dbOrigine);
  moteur::Database& dbOrig = image.Source();

  int nombreTables = 0;
  if (Resultat r = Essaie([&] { nombreTables = dbOrig.TableDefs().Count(); }); !r) {
    // Without the list of the target's tables nothing is copied: that must not read as success.
    etat.journal.EcritureJournal("#ERR# Erreur :" + std::to_string(r.Number) + " " + r.Description);
    return false;
  }

  const std::vector<std::string> noms = OrdreDeCopie(dbDest, TablesACopier(dbOrig, nombreTables));
  VideTablesCopiees(dbDest, noms);
  // The bar counts the tables copied: table k of n.
  etat.fenetre.ProgressMaximum(static_cast<long>(noms.size()));
  long copiees = 0;
  for (const std::string& nom : noms) {
    etat.fenetre.ProgressValeur(copiees++);
    etat.fenetre.LaisseVivre();

    std::string nomDestination;
    if (Resultat r = Essaie([&] { nomDestination = dbDest.TableDefs()[nom].Name(); }); !r) {
      etat.journal.EcritureJournal("#ERR# Erreur :" + std::to_string(r.Number) + " " + r.Description + " " + nom);
      etat.fenetre.LaisseVivre(true);
      resultat = false;
      continue;
    }

    const std::optional<long long> compteSource = CompteEnregistrements(dbOrig, nom, moteur::dbOpenDynaset);
    // Records of the model that could not be deleted are not copies: only what the copy adds counts.
    const std::optional<long long> dejaLa = CompteEnregistrements(dbDest, nom, moteur::dbOpenSnapshot);
    auto copies = [&]() -> std::optional<long long> {
      std::optional<long long> apres = CompteEnregistrements(dbDest, nom, moteur::dbOpenSnapshot);
      if (!apres || !dejaLa) return std::nullopt;
      return *apres - *dejaLa;
    };

    if (!etat.fenetre.Case(cases::LigneALigne)) {
      // Without dbFailOnError: the engine leaves out the records the model's keys or rules refuse
      // and copies the rest; the two counts then tell the difference.
      // Every apostrophe of a folder name is doubled, the dialect reading '' as one, so no folder
      // name can end the text early and change what the statement says.
      const std::string instruction = "INSERT INTO " + texte::CiteCrochets(nomDestination) + " in " +
                                      texte::CiteLitteral(dbDest.Name()) + " SELECT * FROM " + texte::CiteCrochets(nom);
      // One statement whose commit writes and syncs the whole table: the window lives on meanwhile.
      Resultat r = Essaie([&] { moteur::TravailDelegue([&] { dbOrig.Execute(instruction); }); });
      if (r) {
        const std::optional<long long> compteCopie = copies();
        std::string ligne = "Table : " + nom + " Copie de " + EnDecimal(compteCopie) + "/" + EnDecimal(compteSource) +
                            " enregistrements";
        if (!compteCopie || !compteSource || *compteCopie != *compteSource) ligne = "**** " + ligne;
        CopieDictionnaire(dbOrig, dbDest, nom);
        CompteCopie(etat, nom, compteSource, compteCopie);
        etat.journal.EcritureJournal(ligne);
        if (!RemplaceTextesIllisibles(etat, dbDest, nom)) resultat = false;
        continue;
      }
      etat.journal.EcritureJournal("#ERR# Erreur :" + std::to_string(r.Number) + " " + r.Description + "\r\n" +
                                   "       Table : " + nom + " impossible de faire une copie groupée des enregistrements.");
      // Record by record would meet the same full disk once per record: the run stops on it.
      if (EstErreurEspaceDisque(r.Number)) throw moteur::ErreurMoteur(r.Number, r.Description);
    }

    etat.journal.EcritureJournal("       Table : " + nom + " : tentative de copie séquentielle.");
    CopieEnregistrement(etat, dbOrig, dbDest, nom);
    const std::optional<long long> compteCopie = copies();
    const bool reussie = compteCopie && compteSource && *compteCopie == *compteSource;
    CompteCopie(etat, nom, compteSource, compteCopie);
    etat.journal.EcritureJournal(reussie ? "       Tentative réussie." : "       Tentative échouée.");
    etat.fenetre.LaisseVivre(true);
    resultat = false;
  }
  etat.fenetre.ProgressValeur(copiees);
  return resultat;
}

void CopieEnregistrement(EtatReorganisation& etat, moteur::Database& source, moteur::Database& destination,
                         const std::string& nomTable) {
  moteur::Recordset origine, cible;
  // Without both tables there is nothing to copy into or from; going on would report every
  // record, or loop on a recordset that never reaches its end.
  if (!Essaie([&] {
        origine = source.OpenRecordset(nomTable);
        cible = destination.OpenRecordset(nomTable);
      })) {
    FermeTable(origine);
    FermeTable(cible);
    return;
  }

  // The fields are matched once by name: the destination may lack some of the source's fields,
  // which are then left out of the copy but still named in the trace.
  struct Correspondance {
    moteur::Field source;
    std::string nom;
    std::optional<moteur::Field> cible;
  };
  std::vector<Correspondance> champs;
  Essaie([&] {
    moteur::Fields liste = origine.Fields();
    for (int i = 0; i < liste.Count(); ++i) {
      Correspondance c{liste[i], liste[i].Name(), std::nullopt};
      Essaie([&] {
        moteur::Field f = cible.Fields()[c.nom];
        f.Size();
        c.cible = f;
      });
      champs.push_back(std::move(c));
    }
  });

  Essaie([&] {
    if (!origine.Bof()) origine.MoveFirst();
  });
  for (;;) {
    bool fin = true;
    Essaie([&] { fin = origine.Eof(); });
    if (fin) break;

    std::string trace, traceDesPertes;
    bool perte = false;
    etat.fenetre.LaisseVivre();
    Essaie([&] { cible.AddNew(); });
    for (auto& c : champs) {
      moteur::Valeur valeur;
      const bool lue = static_cast<bool>(Essaie([&] { valeur = c.source.Value(); }));
      // Whole and on the trace's one line, whatever the value holds.
      std::string texte;
      Essaie([&] { texte = TexteJournal(valeur); });
      trace += c.nom + ":" + texte + ";";
      // A value the field refuses leaves its Null in the copy: that is a value lost, not copied.
      // A Null is set as well: left alone, the field would keep the default that the new record
      // was given, a value the target never held.
      const bool refusee = c.cible && lue && !Essaie([&] { c.cible->SetValue(valeur); });
      const bool perdue = c.cible && (!lue || (refusee && !valeur.EstNulOuVide()));
      traceDesPertes += c.nom + ":" + texte + (perdue ? " -> Null;" : ";");
      perte = perte || perdue;
    }
    if (!MiseAJour(cible)) {
      etat.journal.EcritureJournal("   Table : " + nomTable + ", Enregistrement non mis à jour.\r\n   --->" + trace);
      if (const int n = ErreurDerniereEcriture(); EstErreurEspaceDisque(n)) {
        Essaie([&] {
          if (cible.EditMode() != 0) cible.CancelUpdate();
        });
        FermeTable(origine);
        FermeTable(cible);
        throw moteur::ErreurMoteur(n);
      }
      // The refused record must not linger as the pending addition of the next one.
      Essaie([&] {
        if (cible.EditMode() != 0) cible.CancelUpdate();
      });
    } else if (perte) {
      etat.journal.EcritureJournal("   Table : " + nomTable +
                                   ", Enregistrement copié, valeurs inconvertibles remplacées par Null.\r\n   --->" +
                                   traceDesPertes);
    }
    // A record the engine cannot step past would otherwise be copied again and again.
    if (!Essaie([&] { origine.MoveNext(); })) break;
    etat.fenetre.LaisseVivre();
  }

  FermeTable(origine);
  FermeTable(cible);
}

}  // namespace utireorg
