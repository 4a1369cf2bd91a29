#include "structure/Reconstruction.h"

#include <vector>

#include "common/BaseDonnees.h"
#include "journal/Journal.h"
#include "moteur/Noms.h"
#include "structure/Interne.h"

namespace utireorg {

using moteur::Essaie;
using namespace structure;

moteur::Field CreeChampSemblable(const moteur::TableDef& table, const moteur::Field& source, bool toutOuRien) {
  moteur::Field champ = table.CreateField();
  auto etape = [&](auto&& action) {
    if (toutOuRien) action();
    else Essaie(action);
  };
  etape([&] { champ.SetName(source.Name()); });
  etape([&] { champ.SetType(source.Type()); });
  etape([&] { champ.SetSize(source.Size()); });
  etape([&] { champ.SetAttributes(source.Attributes()); });
  etape([&] { champ.SetDefaultValue(source.DefaultValue()); });
  etape([&] { champ.SetRequired(source.Required()); });
  etape([&] {
    if (moteur::EstTypeTexte(champ.Type())) champ.SetAllowZeroLength(source.AllowZeroLength());
  });
  return champ;
}

void SignaleReconstructionEchouee(EtatReorganisation& etat, const std::string& table, const std::string& champ) {
  etat.journal.EcritureJournal("#ERR# Table : " + table + ", le champ '" + champ + "' n'est pas correct.");
}

namespace {

// A failure of the rebuild, once its journal line is due.
struct Echec {};

// Dictionary properties of an existing field carried to its new copy: "NomClair" brings its two
// companions, "Supplement" its own. A property the field lacks is not created.
void CopieDictionnaire(const moteur::Field& existant, const moteur::Field& nouveau) {
  auto possede = [&](const char* nom) { return Essaie([&] { existant.Properties()[nom].Value(); }).Number == 0; };
  auto copie = [&](const char* nom, int type) {
    Essaie([&] {
      moteur::Valeur valeur = existant.Properties()[nom].Value();
      nouveau.Properties().Append(nouveau.CreateProperty(nom, type, valeur));
    });
  };
  if (possede(NomClair)) {
    copie(NomClair, moteur::dbText);
    copie(VekFormat, moteur::dbText);
    copie(Priorite, moteur::dbInteger);
  }
  if (possede(Supplement)) {
    copie(Supplement, moteur::dbBoolean);
    copie(FormatSaisie, moteur::dbText);
  }
}

// What the record copy needs of each field of the existing table.
struct ChampCopie {
  std::string nom;
  bool present = false;  // the new table has it
  bool texte = false;    // the new field is Text: values are cut to its size
  int taille = 0;
  bool requis = false;
};

void CopieEnregistrements(EtatReorganisation& etat, moteur::Database& cible, const std::string& table,
                          const std::string& nomTemporaire, const std::vector<ChampCopie>& champs) {
  moteur::Recordset existante, nouvelle;
  struct Fermeture {
    moteur::Recordset &a, &b;
    ~Fermeture() {
      FermeTable(b);
      FermeTable(a);
    }
  } fermeture{existante, nouvelle};

  if (!Essaie([&] { existante = OuvreTable(cible, table); })) throw Echec{};
  if (TableVide(existante)) return;
  if (!Essaie([&] {
        nouvelle = OuvreTable(cible, nomTemporaire);
        existante.MoveFirst();
      }))
    throw Echec{};
  for (;;) {
    bool fin = true;
    if (!Essaie([&] { fin = existante.Eof(); })) throw Echec{};
    if (fin) break;
    if (!Essaie([&] { nouvelle.AddNew(); })) throw Echec{};
    for (const auto& champ : champs) {
      if (!champ.present) continue;
      auto r = Essaie([&] {
        moteur::Valeur valeur = existante[champ.nom].Value();
        if (valeur.EstNul()) {
          // A null stays a null; only a field that refuses it gets the value of its type.
          if (champ.requis) valeur = LitChamp(existante, champ.nom);
        } else if (champ.texte) {
          std::string texte = valeur.genre() == moteur::Valeur::Genre::Texte ? valeur.texte() : valeur.EnTexte();
          if (moteur::LongueurCaracteres(texte) > static_cast<std::size_t>(champ.taille))
            valeur = moteur::Valeur(moteur::PremiersCaracteres(texte, static_cast<std::size_t>(champ.taille)));
        }
        nouvelle[champ.nom].SetValue(valeur);
      });
      if (!r) {
        Essaie([&] { nouvelle.CancelUpdate(); });
        throw Echec{};
      }
    }
    if (MiseAJour(nouvelle, true) != 0) {
      Essaie([&] { nouvelle.CancelUpdate(); });
      throw Echec{};
    }
    etat.fenetre.LaisseVivre();
    if (!Essaie([&] { existante.MoveNext(); })) throw Echec{};
  }
}

}  // namespace

bool ReconstruitTable(EtatReorganisation& etat, moteur::Database& cible, const std::string& table,
                      const moteur::TableDef& modele, const moteur::TableDef& existante) {
  const std::string nomTemporaire = PrefixeReconstruction + table;
  std::string champ;  // the field last taken in hand, named by the failure line
  if (!Ouverte(cible)) {
    SignaleReconstructionEchouee(etat, table, champ);
    return false;
  }

  // A copy left by an earlier failed rebuild goes first.
  if (Essaie([&] { cible.TableDefs()[nomTemporaire].Name(); }).Number == 0) SupprimeTable(cible, nomTemporaire);

  try {
    moteur::TableDef nouvelle;
    int nombreModele = 0;
    if (!Essaie([&] {
          nouvelle = cible.CreateTableDef(nomTemporaire);
          nombreModele = modele.Fields().Count();
        }))
      throw Echec{};
    for (int k = 0; k < nombreModele; ++k) {
      if (!Essaie([&] {
            moteur::Field source = modele.Fields()[k];
            champ = source.Name();
            nouvelle.Fields().Append(CreeChampSemblable(nouvelle, source, true));
          }))
        throw Echec{};
    }
    // A "Temp_" table that could not be deleted would be emptied and taken for the new one,
    // with its old fields: the new definition must really be the one appended.
    if (AjouteTable(cible, nouvelle) != 0 || !nouvelle.EstLie()) throw Echec{};

    Essaie([&] {
      moteur::Valeur nomClair = existante.Properties()[NomClair].Value();
      nouvelle.Properties().Append(nouvelle.CreateProperty(NomClair, moteur::dbText, nomClair));
    });

    std::vector<ChampCopie> champs;
    int nombreExistants = 0;
    if (!Essaie([&] { nombreExistants = existante.Fields().Count(); })) throw Echec{};
    for (int k = 0; k < nombreExistants; ++k) {
      moteur::Field existant;
      if (!Essaie([&] {
            existant = existante.Fields()[k];
            champ = existant.Name();
          }))
        throw Echec{};
      moteur::Field nouveau;
      auto r = Essaie([&] { nouveau = nouvelle.Fields()[champ]; });
      if (r.Number == moteur::err::ElementIntrouvable) {
        // A field only the target has keeps its own characteristics.
        r = Essaie([&] {
          moteur::Field copie = CreeChampSemblable(nouvelle, existant, true);
          nouvelle.Fields().Append(copie);
          nouveau = nouvelle.Fields()[champ];
        });
      }
      if (!r) throw Echec{};
      CopieDictionnaire(existant, nouveau);
      ChampCopie c;
      c.nom = champ;
      c.present = Essaie([&] {
                    c.texte = nouveau.Type() == moteur::dbText;
                    c.taille = nouveau.Size();
                    c.requis = nouveau.Required();
                  }).Number == 0;
      champs.push_back(std::move(c));
    }

    CopieEnregistrements(etat, cible, table, nomTemporaire, champs);

    if (SupprimeTable(cible, table) != 0) throw Echec{};
    if (!Essaie([&] { nouvelle.SetName(table); })) throw Echec{};
    return true;
  } catch (const Echec&) {
  } catch (const moteur::ErreurMoteur&) {
  }
  SignaleReconstructionEchouee(etat, table, champ);
  return false;
}

}  // namespace utireorg
