#include "structure/Reconstruction.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

#include "bases/BaseDonnees.h"
#include "journal/Journal.h"
#include "journal/TexteValeur.h"
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
  bool present = false;     // the new table has it
  bool texte = false;       // the new field is Text: values are cut to its size
  int taille = 0;
  bool requis = false;
  moteur::Valeur defaut;    // what a new record of the new table gets in this field; Null when nothing
  int typeAncien = 0;       // the existing field's type
  bool typeChange = false;  // the new field's type is not the existing one's: a value may read otherwise
};

// A plain decimal number as its sign, its significant digits and the power of ten of the last of
// them: " 1.50", "+1,5" and "15e-1" all read {false, "15", -1}; zero is {false, "", 0}.
struct Decimal {
  bool negatif = false;
  std::string chiffres;
  long exposant = 0;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

std::optional<Decimal> LitDecimal(std::string_view texte) {
  while (!texte.empty() && texte.front() == ' ') texte.remove_prefix(1);
  while (!texte.empty() && texte.back() == ' ') texte.remove_suffix(1);
  Decimal d;
  if (!texte.empty() && (texte.front() == '+' || texte.front() == '-')) {
    d.negatif = texte.front() == '-';
    texte.remove_prefix(1);
  }
  bool separateur = false, chiffre = false;
  std::size_t i = 0;
  for (; i < texte.size(); ++i) {
    const char c = texte[i];
    if (c >= '0' && c <= '9') {
      chiffre = true;
      d.chiffres += c;
      if (separateur) --d.exposant;
    } else if ((c == '.' || c == ',') && !separateur) {
      separateur = true;
    } else {
      break;
    }
  }
  if (!chiffre) return std::nullopt;
  if (i < texte.size()) {
    if (texte[i] != 'e' && texte[i] != 'E') return std::nullopt;
    std::string_view puissance = texte.substr(i + 1);
    if (!puissance.empty() && puissance.front() == '+') puissance.remove_prefix(1);
    int p = 0;
    auto [fin, ec] = std::from_chars(puissance.data(), puissance.data() + puissance.size(), p);
    if (puissance.empty() || ec != std::errc() || fin != puissance.data() + puissance.size()) return std::nullopt;
    d.exposant += p;
  }
  d.chiffres.erase(0, std::min(d.chiffres.find_first_not_of('0'), d.chiffres.size()));
  while (!d.chiffres.empty() && d.chiffres.back() == '0') {
    d.chiffres.pop_back();
    ++d.exposant;
  }
  if (d.chiffres.empty()) d = Decimal{};
  return d;
}

// The decimal a number holds in full: a double by the shortest text that reads back to it.
std::optional<Decimal> DecimalDe(const moteur::Valeur& v) {
  switch (v.genre()) {
    case moteur::Valeur::Genre::Booleen:
    case moteur::Valeur::Genre::Entier: return LitDecimal(std::to_string(v.entier()));
    case moteur::Valeur::Genre::Monetaire: return LitDecimal(v.EnTexte());
    case moteur::Valeur::Genre::Reel: {
      char tampon[64];
      auto [fin, ec] = std::to_chars(tampon, tampon + sizeof tampon, v.reel());
      if (ec != std::errc()) return std::nullopt;
      return LitDecimal(std::string_view(tampon, static_cast<std::size_t>(fin - tampon)));
    }
    default: return std::nullopt;
  }
}

// A text that the new field reads without losing anything it says: the number it writes, exactly;
// the date it writes; a Yes/No word, or the -1 or 0 that a Yes/No holds.
bool TexteLuSansPerte(const std::string& texte, const moteur::Valeur& nouvelle) {
  try {
    const std::optional<Decimal> nombre = LitDecimal(texte);
    switch (nouvelle.genre()) {
      case moteur::Valeur::Genre::Date: return moteur::Valeur(moteur::Valeur(texte).EnDate()) == nouvelle;
      case moteur::Valeur::Genre::Booleen:
        return nombre ? nombre == DecimalDe(nouvelle) : moteur::Valeur(texte).EnBooleen() == nouvelle.EnBooleen();
      default: return nombre && nombre == DecimalDe(nouvelle);
    }
  } catch (const moteur::ErreurMoteur&) {
    return false;
  }
}

// A value that only takes another form in its new field is the same value: written back into a
// field of its former type it gives the former value exactly (1.5 becoming the text "1,5", 2
// becoming 2.0), or, a text, the new field reads all of what it says ("1.50" becoming 1,5,
// "2024-01-31" becoming 31/01/2024). Anything else (a cut, a rounding, digits a double cannot
// hold) is a change.
bool MemeValeur(const moteur::Valeur& ancienne, const moteur::Valeur& nouvelle, int typeAncien) {
  if (ancienne.genre() == moteur::Valeur::Genre::Texte && TexteLuSansPerte(ancienne.texte(), nouvelle)) return true;
  try {
    return moteur::ValeurDuChamp(nouvelle, typeAncien) == moteur::ValeurDuChamp(ancienne, typeAncien);
  } catch (const moteur::ErreurMoteur&) {
    return false;
  }
}

// One value into the new record. A value the new field cuts, reads otherwise, or gives to a Null,
// is told in `changement`, with the whole of the former value.
void CopieValeur(moteur::Recordset& existante, moteur::Recordset& nouvelle, const ChampCopie& champ,
                 std::string& changement) {
  const moteur::Valeur ancienne = existante[champ.nom].Value();
  moteur::Valeur valeur = ancienne;
  bool aSuivre = false;
  if (ancienne.EstNul()) {
    // A field that refuses a Null gets its default, as a new record would and as the null-record
    // pass would give it (the model may have just made the field required); the value of its type
    // when it has none.
    if (champ.requis) {
      valeur = champ.defaut.EstNul() ? LitChamp(existante, champ.nom) : champ.defaut;
      aSuivre = true;
    }
  } else {
    aSuivre = champ.typeChange;
    if (champ.texte) {
      std::string texte = ancienne.genre() == moteur::Valeur::Genre::Texte ? ancienne.texte() : ancienne.EnTexte();
      if (texte::NombreCaracteres(texte) > static_cast<std::size_t>(champ.taille)) {
        aSuivre = true;
        valeur = moteur::Valeur(texte::PremiersCaracteres(texte, static_cast<std::size_t>(champ.taille)));
      }
    }
  }
  nouvelle[champ.nom].SetValue(valeur);
  if (!aSuivre) return;
  const moteur::Valeur gardee = nouvelle[champ.nom].Value();
  if (ancienne.EstNul() ? gardee.EstNulOuVide() : MemeValeur(ancienne, gardee, champ.typeAncien)) return;
  changement = "champ '" + champ.nom + "' : " + TexteValeurJournal(ancienne) + " devient " + TexteValeurJournal(gardee);
}

// The field a refusal of the engine names, among those copied; empty when it names none.
std::string ChampNomme(const std::string& description, const std::vector<ChampCopie>& champs) {
  std::string trouve;
  for (const auto& champ : champs)
    if (champ.nom.size() > trouve.size() && description.find("'" + champ.nom + "'") != std::string::npos) trouve = champ.nom;
  return trouve;
}

// The record the new table refuses, named so that the user can find it: its key, the field at
// fault with its value in the existing table, and the engine's error.
void SignaleEnregistrementRefuse(EtatReorganisation& etat, moteur::Recordset& existante, const std::string& table,
                                 const std::string& cle, const std::string& champ, const moteur::Resultat& erreur) {
  std::string ligne = "#ERR# Table : " + table + ", enregistrement " + cle;
  if (!champ.empty()) {
    moteur::Valeur valeur = moteur::Valeur::Nul();
    Essaie([&] { valeur = existante[champ].Value(); });
    ligne += ", champ '" + champ + "', valeur " + TexteValeurJournal(valeur);
  }
  etat.journal.EcritureJournal(ligne + " : Erreur :" + std::to_string(erreur.Number) + " " + EchappeJournal(erreur.Description));
}

// Copies every record into the new table; returns the journal lines of the values it changed,
// to be written once the rebuild has succeeded.
std::vector<std::string> CopieEnregistrements(EtatReorganisation& etat, moteur::Database& cible, const std::string& table,
                                              const std::string& nomTemporaire, const std::vector<ChampCopie>& champs,
                                              const std::vector<std::string>& cle) {
  std::vector<std::string> changements;
  moteur::Recordset existante, nouvelle;
  struct Fermeture {
    moteur::Recordset &a, &b;
    ~Fermeture() {
      FermeTable(b);
      FermeTable(a);
    }
  } fermeture{existante, nouvelle};

  if (!Essaie([&] { existante = OuvreTable(cible, table); })) throw Echec{};
  if (TableVide(existante)) return changements;
  if (!Essaie([&] {
        nouvelle = OuvreTable(cible, nomTemporaire);
        existante.MoveFirst();
      }))
    throw Echec{};
  for (long long position = 1;; ++position) {
    bool fin = true;
    if (!Essaie([&] { fin = existante.Eof(); })) throw Echec{};
    if (fin) break;
    if (!Essaie([&] { nouvelle.AddNew(); })) throw Echec{};
    for (const auto& champ : champs) {
      if (!champ.present) continue;
      std::string changement;
      if (auto r = Essaie([&] { CopieValeur(existante, nouvelle, champ, changement); }); !r) {
        SignaleEnregistrementRefuse(etat, existante, table, CleEnregistrement(existante, cle, position), champ.nom, r);
        Essaie([&] { nouvelle.CancelUpdate(); });
        throw Echec{};
      }
      if (!changement.empty())
        changements.push_back("#ALERT# Table : " + table + ", enregistrement " + CleEnregistrement(existante, cle, position) +
                              ", " + changement + ".");
    }
    if (!MiseAJour(nouvelle, Signalement::Silencieux)) {
      // Stored once more, only to learn what the engine refuses: the guarded write keeps its number.
      if (auto r = Essaie([&] { nouvelle.Update(); }); !r) {
        SignaleEnregistrementRefuse(etat, existante, table, CleEnregistrement(existante, cle, position),
                                    ChampNomme(r.Description, champs), r);
        Essaie([&] { nouvelle.CancelUpdate(); });
        throw Echec{};
      }
    }
    etat.fenetre.LaisseVivre();
    if (!Essaie([&] { existante.MoveNext(); })) throw Echec{};
  }
  return changements;
}

// The indexes only the existing table has go to the new one, as its own fields do; those the model
// also has are made again by the verification that follows. One refused for the duplicates a cut
// made is kept as a plain index.
void CopieIndexPropres(EtatReorganisation& etat, const moteur::TableDef& modele, const moteur::TableDef& existante,
                       moteur::TableDef& nouvelle, const std::string& table) {
  int nombre = 0;
  Essaie([&] { nombre = existante.Indexes().Count(); });
  for (int k = 0; k < nombre; ++k) {
    moteur::Index ancien;
    std::string nom;
    if (!Essaie([&] {
          ancien = existante.Indexes()[k];
          nom = ancien.Name();
        }))
      continue;
    if (Essaie([&] { modele.Indexes()[nom].Name(); })) continue;
    moteur::Index copie;
    auto r = Essaie([&] {
      copie = nouvelle.CreateIndex(nom);
      copie.SetFields(ancien.Fields());
      copie.SetUnique(ancien.Unique());
      copie.SetPrimary(ancien.Primary());
      copie.SetIgnoreNulls(ancien.IgnoreNulls());
      nouvelle.Indexes().Append(copie);
    });
    if (r.Number == moteur::err::Doublon) {
      etat.journal.EcritureJournal("#ERR# " + TexteDoublons(table, nom));
      r = Essaie([&] {
        copie.SetUnique(false);
        copie.SetPrimary(false);
        nouvelle.Indexes().Append(copie);
      });
    }
    if (!r)
      etat.journal.EcritureJournal("#ERR# Table : " + table + ", index '" + nom + "' non recréé (" + r.Description + ").");
  }
}

// The relations the table had are appended again once it has its name back: without the relation
// check, nothing else would give them back.
void RetablitRelations(EtatReorganisation& etat, moteur::Database& cible, const std::string& table,
                       const std::vector<RelationGardee>& relations) {
  for (const auto& relation : relations) {
    auto r = RetablitRelation(cible, relation);
    if (!r)
      etat.journal.EcritureJournal("#ERR# Relation '" + relation.nom + "' non recréée après la reconstruction de la table " +
                                   table + " (" + r.Description + ").");
  }
}

bool TableExiste(moteur::Database& cible, const std::string& nom) {
  return Essaie([&] { cible.TableDefs()[nom].Name(); }).Number == 0;
}

bool TableSansEnregistrement(moteur::Database& cible, const std::string& nom) {
  moteur::Recordset rs;
  bool vide = false;
  if (Essaie([&] { rs = OuvreTable(cible, nom); })) vide = TableVide(rs);
  FermeTable(rs);
  return vide;
}

// The name the copy is built under. A table "Temp_" + name left empty by an earlier rebuild goes.
// One that holds records may be the only copy of a table whose rebuild failed after deleting it,
// or simply a table of the user's; one in relations would take them with it: it stays, and the
// copy takes the first free name after it. Empty when none can be found.
std::string NomTemporaire(EtatReorganisation& etat, moteur::Database& cible, const std::string& table) {
  const std::string nom = PrefixeReconstruction + table;
  if (!TableExiste(cible, nom)) return nom;
  const bool vide = TableSansEnregistrement(cible, nom);
  const bool liee = !RelationsDeLaTable(cible, nom).empty();
  if (vide && !liee && SupprimeTable(cible, nom, Signalement::Silencieux)) {
    etat.journal.EcritureJournal("#ALERT# Table " + nom + " laissée vide par une reconstruction précédente : supprimée.");
    return nom;
  }
  for (int n = 1; n < 1000; ++n) {
    const std::string autre = nom + "_" + std::to_string(n);
    if (TableExiste(cible, autre)) continue;
    const std::string raison = !vide ? "elle contient des enregistrements" : liee ? "elle fait partie de relations"
                                                                                : "elle n'a pas pu être supprimée";
    etat.journal.EcritureJournal("#ALERT# Table " + nom + " gardée : " + raison + ". La table " + table +
                                 " est reconstruite sous le nom " + autre + ".");
    return autre;
  }
  return {};
}

}  // namespace

// The fields that tell a record of the table from the others in the journal: those of its primary
// key, else of its first unique index; none when it has neither.
std::vector<std::string> structure::ChampsCle(const moteur::TableDef& table) {
  std::string liste;
  Essaie([&] {
    const int nombre = table.Indexes().Count();
    for (int k = 0; k < nombre && liste.empty(); ++k)
      if (table.Indexes()[k].Primary()) liste = table.Indexes()[k].Fields();
    for (int k = 0; k < nombre && liste.empty(); ++k)
      if (table.Indexes()[k].Unique()) liste = table.Indexes()[k].Fields();
  });
  std::vector<std::string> champs;
  for (std::size_t debut = 0; debut < liste.size();) {
    std::size_t fin = liste.find(';', debut);
    if (fin == std::string::npos) fin = liste.size();
    std::string nom = liste.substr(debut, fin - debut);
    if (!nom.empty() && (nom.front() == '+' || nom.front() == '-')) nom.erase(0, 1);
    if (!nom.empty()) champs.push_back(nom);
    debut = fin + 1;
  }
  return champs;
}

// "Id=1" for a record of a table keyed on Id, "n° 3" for the third record of a table without a key.
std::string structure::CleEnregistrement(moteur::Recordset& rs, const std::vector<std::string>& cle, long long position) {
  if (cle.empty()) return "n° " + std::to_string(position);
  std::string texte;
  for (const auto& nom : cle) {
    moteur::Valeur v;
    Essaie([&] { v = rs[nom].Value(); });
    texte += (texte.empty() ? "" : ", ") + nom + "=" + (v.EstNulOuVide() ? std::string("Null") : EchappeJournal(v.EnTexte()));
  }
  return texte;
}

bool ReconstruitTable(EtatReorganisation& etat, moteur::Database& cible, const std::string& table,
                      const moteur::TableDef& modele, const moteur::TableDef& existante) {
  std::string champ;  // the field last taken in hand, named by the failure line
  if (!Ouverte(cible)) {
    SignaleReconstructionEchouee(etat, table, champ);
    return false;
  }
  const std::string nomTemporaire = NomTemporaire(etat, cible, table);
  if (nomTemporaire.empty()) {
    SignaleReconstructionEchouee(etat, table, champ);
    return false;
  }

  bool copieAjoutee = false, tableSupprimee = false;
  auto echoue = [&] {
    // While the table is there, the copy holds nothing of its own: left behind, it would be taken
    // at the next rebuild for a table to keep. Once the table is gone, it holds the records.
    if (copieAjoutee && !tableSupprimee) SupprimeTable(cible, nomTemporaire, Signalement::Silencieux);
    SignaleReconstructionEchouee(etat, table, champ);
    return false;
  };
  try {
    moteur::TableDef nouvelle;
    int nombreModele = 0;
    if (!Essaie([&] {
          nouvelle = cible.CreateTableDef(nomTemporaire);
          nombreModele = modele.Fields().Count();
        }))
      throw Echec{};
    // The model's fields in their order, numbered from 0: a field the model adds later finds its
    // place among them.
    for (int k = 0; k < nombreModele; ++k) {
      if (!Essaie([&] {
            moteur::Field source = modele.Fields()[k];
            champ = source.Name();
            moteur::Field nouveau = CreeChampSemblable(nouvelle, source, true);
            nouveau.SetOrdinalPosition(k);
            nouvelle.Fields().Append(nouveau);
          }))
        throw Echec{};
    }
    // A "Temp_" table that could not be deleted would be emptied and taken for the new one,
    // with its old fields: the new definition must really be the one appended.
    if (!AjouteTable(cible, nouvelle) || !nouvelle.EstLie()) throw Echec{};
    copieAjoutee = true;

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
                    c.defaut = moteur::ValeurParDefaut(nouveau.DefaultValue(), nouveau.Type());
                    c.typeAncien = existant.Type();
                    c.typeChange = nouveau.Type() != c.typeAncien;
                  }).Number == 0;
      champs.push_back(std::move(c));
    }

    const std::vector<std::string> changements =
        CopieEnregistrements(etat, cible, table, nomTemporaire, champs, ChampsCle(existante));
    CopieIndexPropres(etat, modele, existante, nouvelle, table);

    const std::vector<RelationGardee> relations = RelationsDeLaTable(cible, table);
    if (!SupprimeTable(cible, table)) throw Echec{};
    tableSupprimee = true;
    const bool renommee = static_cast<bool>(Essaie([&] { nouvelle.SetName(table); }));
    RetablitRelations(etat, cible, table, relations);
    if (!renommee) throw Echec{};
    for (const auto& ligne : changements) etat.journal.EcritureJournal(ligne);
    etat.compteurs.valeursModifiees += static_cast<long>(changements.size());
    return true;
  } catch (const Echec&) {
    return echoue();
  } catch (const moteur::ErreurMoteur&) {
    return echoue();
  }
}

}  // namespace utireorg
