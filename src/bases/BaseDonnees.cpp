#include "bases/BaseDonnees.h"

#include <algorithm>
#include <initializer_list>
#include <thread>
#include <utility>

#include "common/InterfaceFenetre.h"
#include "messages/AfficheMessage.h"
#include "messages/GestionErreur.h"
#include "texte/Texte.h"

namespace utireorg {
namespace {

using moteur::Essaie;
using moteur::Resultat;

// Numbers by which the engine says that another user holds what we want, and that trying
// again may work.
constexpr int NumerosVerrou[] = {3046, 3158, 3186, 3187, 3188, 3189, 3197, 3202,
                                 3211, 3212, 3218, 3260, 3261, 3262, 3263};
constexpr int LectureVerrouillee = 3624;

bool EstVerrou(int numero, std::initializer_list<int> autres = {}) {
  return std::find(std::begin(NumerosVerrou), std::end(NumerosVerrou), numero) != std::end(NumerosVerrou) ||
         std::find(autres.begin(), autres.end(), numero) != autres.end();
}

const moteur::ErreurMoteur& ObjetNonValide() {
  static const moteur::ErreurMoteur erreur(moteur::err::ObjetInvalide, "Objet non valide ou qui n'est plus défini.");
  return erreur;
}

HorlogeAttente& Horloge() {
  static HorlogeAttente horloge;
  return horloge;
}

PauseAttente& Pause() {
  static PauseAttente pause;
  return pause;
}

enum class Issue { Fait, Verrou, Echec, EchecDejaSignale };

int& DerniereErreurEcriture() {
  static int numero = 0;
  return numero;
}

// The loop every guarded write shares. "tente" makes one attempt; "classe" says what its error
// number means for this routine. A wait that runs out is a failure like any other: the write
// was not done, and the caller must not take it for done.
template <class Tentative, class Classement>
bool Garde(std::string_view code, Signalement signalement, Tentative&& tente, Classement&& classe) {
  const auto debut = MaintenantAttente();
  for (;;) {
    Resultat r = tente();
    Issue issue = r.Number == 0 ? Issue::Fait : classe(r);
    DerniereErreurEcriture() = issue == Issue::Fait ? 0 : r.Number;
    switch (issue) {
      case Issue::Fait: return true;
      case Issue::Verrou:
        if (AttenteTransaction(debut)) continue;
        break;
      case Issue::Echec: break;
      case Issue::EchecDejaSignale: return false;
    }
    if (signalement == Signalement::Message)
      GestionErreur(TitreApplication() + std::string(code), r.Number, r.Description);
    return false;
  }
}

moteur::Valeur DefautDuType(int type) {
  if (type >= moteur::dbBoolean && type <= moteur::dbDouble) return moteur::Valeur(0);
  if (type == moteur::dbDate) return moteur::Valeur();
  return moteur::Valeur(std::string());
}

template <class Acces>
moteur::Valeur LitChampPar(moteur::Recordset& table, Acces&& champ, bool ignoreErreurs) {
  if (!table.EstOuvert()) {
    if (ignoreErreurs) return moteur::Valeur();
    throw ObjetNonValide();
  }
  moteur::Valeur valeur;
  int type = 0;
  auto lit = [&] {
    moteur::Field f = champ();
    valeur = f.Value();
    if (valeur.EstNul()) type = f.Type();
  };
  if (!ignoreErreurs)
    lit();
  else if (!Essaie(lit))
    return moteur::Valeur();
  if (!valeur.EstNul()) return valeur;
  return DefautDuType(type);
}

}  // namespace

int ErreurDerniereEcriture() noexcept { return DerniereErreurEcriture(); }

void DefinitHorlogeAttente(HorlogeAttente horloge) { Horloge() = std::move(horloge); }
void DefinitPauseAttente(PauseAttente pause) { Pause() = std::move(pause); }

std::chrono::steady_clock::time_point MaintenantAttente() {
  return Horloge() ? Horloge()() : std::chrono::steady_clock::now();
}

moteur::Database OuvreBase(const std::string& chemin, bool exclusif, bool lectureSeule, const std::string& connect) {
  return moteur::DBEngine::OpenDatabase(chemin, exclusif, lectureSeule, connect);
}

moteur::Recordset OuvreTable(moteur::Database& base, std::string_view source, int type, int options) {
  if (!base.EstOuverte()) throw ObjetNonValide();
  return base.OpenRecordset(source, type, options);
}

void FermeTable(moteur::Recordset& table) noexcept {
  moteur::IgnoreEchec("the reference is cleared whatever the engine says", [&] {
    if (table.EstOuvert()) table.Close();
  });
  table = moteur::Recordset();
}

void FermeBase(moteur::Database& base) noexcept {
  moteur::IgnoreEchec("the reference is cleared whatever the engine says", [&] {
    if (base.EstOuverte()) base.Close();
  });
  base = moteur::Database();
  // The engine lets go of its file locks when the database closes; asking it once more is
  // enough, and closing does not cost the second of waiting it would elsewhere.
  moteur::IgnoreEchec("the locks go with the database anyway", [] { moteur::DBEngine::Idle(moteur::dbFreeLocks); });
}

bool TableVide(moteur::Recordset& table, const std::optional<std::string>& titre) {
  bool vide = true;
  try {
    if (table.EstOuvert()) {
      std::optional<moteur::Signet> signet;
      Essaie([&] { signet = table.Bookmark(); });
      bool etaitEof = false;
      Essaie([&] { etaitEof = table.Eof(); });
      if (Essaie([&] { table.MoveFirst(); })) {
        vide = false;
        // Give the caller back the position it had.
        if (signet)
          Essaie([&] { table.SetBookmark(*signet); });
        else if (etaitEof)
          Essaie([&] {
            table.MoveLast();
            table.MoveNext();
          });
      }
    }
  } catch (...) {
    vide = true;
  }
  if (vide && titre) AfficheMessage("i#La table est vide.@Aucun traitement n'est possible", *titre);
  return vide;
}

bool AjouteTable(moteur::Database& base, moteur::TableDef& table, Signalement signalement) {
  return Garde(
      " (T_ATDA)", signalement,
      [&]() -> Resultat {
        if (!base.EstOuverte()) return {ObjetNonValide().Number(), ObjetNonValide().Description()};
        Resultat r = Essaie([&] {
          base.TableDefs().Append(table);
          base.TableDefs().Refresh();
        });
        if (r.Number == moteur::err::TableExiste || r.Number == moteur::err::Doublon) {
          // The table is there already: what the caller wants is an empty one. A failed
          // emptying is classified like the append itself, so it is retried or reported.
          r = Essaie(
              [&] { base.Execute("DELETE * FROM " + texte::CiteCrochets(table.Name()), moteur::dbFailOnError); });
        }
        return r;
      },
      [](const Resultat& r) { return EstVerrou(r.Number) ? Issue::Verrou : Issue::Echec; });
}

bool MiseAJour(moteur::Recordset& table, Signalement signalement) {
  auto conflit = [&](const char* texte) {
    if (signalement == Signalement::Message) AfficheMessage(texte, std::string("Mise à jour"));
    return Issue::EchecDejaSignale;
  };
  return Garde(
      " (T_UA)", signalement,
      [&]() -> Resultat {
        if (!table.EstOuvert()) return {ObjetNonValide().Number(), ObjetNonValide().Description()};
        return Essaie([&] {
          table.Update();
          table.SetLockEdits(false);
        });
      },
      [&](const Resultat& r) {
        switch (r.Number) {
          // 3197: the record changed since it was read; the engine says so every time it is
          // stored again, so waiting cannot help.
          case moteur::err::Doublon:
          case moteur::err::ModifieParAutreUtilisateur:
            return conflit("!# Les données ont été mises à jour par une autre tâche.");
          case moteur::err::EnregistrementSupprime:
            return conflit("!#Les données à mettre à jour@ ont été effacées par une autre tâche.");
          default: return EstVerrou(r.Number, {LectureVerrouillee}) ? Issue::Verrou : Issue::Echec;
        }
      });
}

bool SupprimeTable(moteur::Database& base, std::string_view nom, Signalement signalement) {
  return Garde(
      " (T_DTDA)", signalement,
      [&]() -> Resultat {
        if (!base.EstOuverte()) return {ObjetNonValide().Number(), ObjetNonValide().Description()};
        return Essaie([&] {
          base.TableDefs().Delete(nom);
          base.TableDefs().Refresh();
        });
      },
      [](const Resultat& r) {
        if (r.Number == moteur::err::ElementIntrouvable || r.Number == moteur::err::TableInexistante)
          return Issue::Fait;
        return EstVerrou(r.Number, {moteur::err::TableVerrouillee}) ? Issue::Verrou : Issue::Echec;
      });
}

bool SupprimeEnreg(moteur::Recordset& table, Signalement signalement) {
  return Garde(
      " (T_DA)", signalement,
      [&]() -> Resultat {
        if (!table.EstOuvert()) return {ObjetNonValide().Number(), ObjetNonValide().Description()};
        return Essaie([&] {
          moteur::DBEngine::Idle(moteur::dbFreeLocks);
          table.Delete();
        });
      },
      [](const Resultat& r) {
        if (r.Number == moteur::err::EnregistrementSupprime) return Issue::Fait;
        return EstVerrou(r.Number, {LectureVerrouillee}) ? Issue::Verrou : Issue::Echec;
      });
}

bool ValideTransaction() {
  return Garde(
      " (T_CT)", Signalement::Silencieux, [] { return Essaie([] { moteur::DBEngine::CommitTrans(); }); },
      [](const Resultat& r) { return EstVerrou(r.Number) ? Issue::Verrou : Issue::Echec; });
}

moteur::Valeur LitChamp(moteur::Recordset& table, std::string_view champ, bool ignoreErreurs) {
  return LitChampPar(
      table, [&] { return table[champ]; }, ignoreErreurs);
}

moteur::Valeur LitChamp(moteur::Recordset& table, int indice, bool ignoreErreurs) {
  return LitChampPar(
      table, [&] { return table[indice]; }, ignoreErreurs);
}

bool AttenteTransaction(std::chrono::steady_clock::time_point debut) {
  if (MaintenantAttente() - debut >= DelaiAttenteVerrou) return false;
  // A short pause leaves the processor, and the disk, to the workstation holding the lock.
  if (Pause())
    Pause()(PauseAttenteVerrou);
  else
    std::this_thread::sleep_for(PauseAttenteVerrou);
  return true;
}

void RemplaceTexte(std::string& texte, std::string_view chercher, std::string_view remplacer) {
  if (chercher.empty()) return;
  if (remplacer.find(chercher) != std::string_view::npos) {
    std::string resultat;
    std::size_t depuis = 0;
    for (auto pos = texte.find(chercher); pos != std::string::npos; pos = texte.find(chercher, depuis)) {
      resultat.append(texte, depuis, pos - depuis).append(remplacer);
      depuis = pos + chercher.size();
    }
    resultat.append(texte, depuis, std::string::npos);
    texte = std::move(resultat);
    return;
  }
  // Searching again from the first character finds what a replacement brought together. No
  // occurrence starts before the one just replaced, so the search may resume a little before it.
  std::size_t depuis = 0;
  for (auto pos = texte.find(chercher); pos != std::string::npos; pos = texte.find(chercher, depuis)) {
    texte.replace(pos, chercher.size(), remplacer);
    depuis = pos >= chercher.size() - 1 ? pos - (chercher.size() - 1) : 0;
  }
}

bool LitPriorite(moteur::Database& base, std::string_view table, std::string_view champ, int slot) {
  if (slot < 0 || slot > 2 || !base.EstOuverte()) return false;
  long long masque = 0;
  try {
    if (!Essaie([&] {
          masque = base.TableDefs()[table].Fields()[champ].Properties()[ProprietePriorite].Value().EnEntier();
        }))
      return false;
  } catch (...) {
    return false;
  }
  // Taken apart from the highest slot down against what remains, the way the software reads it:
  // a value above 7 sets every slot rather than none.
  bool bits[3] = {false, false, false};
  for (int i = 2; i >= 0; --i) {
    if ((1LL << i) <= masque) {
      bits[i] = true;
      masque -= 1LL << i;
    }
  }
  return bits[slot];
}

void AffectePriorites(moteur::Database& base, std::string_view table, std::string_view champ,
                      const std::vector<int>& slots) {
  int masque = 0;
  if (slots.empty()) {
    masque = 7;
  } else {
    for (int j = 0; j < static_cast<int>(slots.size()); ++j) {
      for (int i = 0; i < 3 && i < static_cast<int>(slots.size()); ++i) {
        if (slots[i] == j) {
          masque += 1 << i;
          break;
        }
      }
    }
  }
  Resultat r;
  if (!base.EstOuverte()) {
    r = {ObjetNonValide().Number(), ObjetNonValide().Description()};
  } else {
    moteur::Field f;
    r = Essaie([&] {
      f = base.TableDefs()[table].Fields()[champ];
      f.Properties().Append(f.CreateProperty(ProprietePriorite, moteur::dbInteger, moteur::Valeur(masque)));
    });
    if (r.Number == 0 || r.Number == moteur::err::ProprieteExiste)
      r = Essaie([&] { f.Properties()[ProprietePriorite].SetValue(moteur::Valeur(masque)); });
  }
  if (r.Number != 0) AfficheMessage("!#" + r.Description, std::string("Affectation dynamique des priorités"));
}

std::vector<std::string> ChampsDeLaCle(moteur::Database& base, const std::string& table) {
  std::vector<std::string> cle;
  moteur::Essaie([&] {
    moteur::Indexes index = base.TableDefs()[table].Indexes();
    for (int i = 0; i < index.Count() && cle.empty(); ++i) {
      moteur::Index x = index[i];
      if (!x.Primary()) continue;
      const std::string liste = x.Fields();
      for (std::size_t debut = 0; debut <= liste.size();) {
        const std::size_t fin = std::min(liste.find(';', debut), liste.size());
        std::string champ = liste.substr(debut, fin - debut);
        if (!champ.empty() && (champ[0] == '+' || champ[0] == '-')) champ.erase(0, 1);
        if (!champ.empty()) cle.push_back(champ);
        debut = fin + 1;
      }
    }
  });
  return cle;
}

}  // namespace utireorg
