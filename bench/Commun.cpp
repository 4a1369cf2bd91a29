#include "Commun.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

namespace banc {

void Echoue(const std::string& message) { throw Echec(message); }

long long LitNombre(std::string_view nom, const char* texte) {
  if (!texte) Echoue(std::string(nom) + " attend une valeur");
  std::string chiffres = texte;
  std::erase(chiffres, '_');
  char* fin = nullptr;
  long long v = std::strtoll(chiffres.c_str(), &fin, 10);
  if (chiffres.empty() || *fin != '\0' || v <= 0)
    Echoue(std::string(nom) + " : nombre positif attendu, pas « " + texte + " »");
  return v;
}

std::string Groupe(long long n) {
  std::string chiffres = std::to_string(n < 0 ? -n : n);
  std::string r;
  for (std::size_t i = 0; i < chiffres.size(); ++i) {
    if (i > 0 && (chiffres.size() - i) % 3 == 0) r += ' ';
    r += chiffres[i];
  }
  return n < 0 ? "-" + r : r;
}

std::string Decimal(double v, int decimales) {
  char tampon[64];
  std::snprintf(tampon, sizeof tampon, "%.*f", decimales, v);
  std::string r = tampon;
  std::replace(r.begin(), r.end(), '.', ',');
  return r;
}

std::string Cadre(const std::string& texte, std::size_t largeur, bool aDroite) {
  std::size_t affiches = 0;
  for (unsigned char c : texte)
    if ((c & 0xC0) != 0x80) ++affiches;
  std::string blancs(largeur > affiches ? largeur - affiches : 0, ' ');
  return aDroite ? blancs + texte : texte + blancs;
}

double Secondes(Horloge::time_point debut) { return std::chrono::duration<double>(Horloge::now() - debut).count(); }

double TempsProcesseur() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long long PicResidentKio() {
  std::ifstream statut("/proc/self/status");
  std::string ligne;
  while (std::getline(statut, ligne))
    if (ligne.rfind("VmHWM:", 0) == 0) return std::strtoll(ligne.c_str() + 6, nullptr, 10);
  return -1;
}

DossierTemporaire::DossierTemporaire(const std::string& prefixe, bool garder) : garder_(garder) {
  std::string modele = (std::filesystem::temp_directory_path() / (prefixe + ".XXXXXX")).string();
  if (!::mkdtemp(modele.data())) Echoue("dossier temporaire impossible");
  chemin_ = modele;
}

DossierTemporaire::~DossierTemporaire() {
  std::error_code ec;
  if (!garder_) std::filesystem::remove_all(chemin_, ec);
}

void CopieFichier(const std::string& source, const std::string& destination) {
  // Sans tampon de la taille du fichier : le processus qui prépare les copies ne doit pas
  // grossir, ses enfants héritant de ses pages résidentes.
  int entree = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (entree < 0) Echoue("lecture de " + source + " impossible");
  int sortie = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (sortie < 0) {
    ::close(entree);
    Echoue("écriture de " + destination + " impossible");
  }
  std::vector<char> tampon(1 << 20);
  bool ok = true;
  for (;;) {
    ssize_t lus = ::read(entree, tampon.data(), tampon.size());
    if (lus <= 0) {
      ok = lus == 0;
      break;
    }
    for (ssize_t ecrits = 0; ok && ecrits < lus;) {
      ssize_t k = ::write(sortie, tampon.data() + ecrits, static_cast<std::size_t>(lus - ecrits));
      ok = k > 0;
      ecrits += k;
    }
    if (!ok) break;
  }
  ::close(entree);
  if (::close(sortie) != 0) ok = false;
  if (!ok) Echoue("copie de " + source + " vers " + destination + " impossible");
}

void VerifieSqlite(sqlite3* db, int rc, const char* quoi) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    Echoue(std::string(quoi) + " : " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

namespace {
void RegleStricte(sqlite3_context* contexte, int, sqlite3_value**) { sqlite3_result_int(contexte, 0); }
void RegleEcartee(sqlite3_context* contexte, int, sqlite3_value**) { sqlite3_result_int(contexte, 1); }
}  // namespace

Sqlite::Sqlite(const std::string& chemin, int drapeaux, Regles regles) {
  // Sans le verrou de la connexion, comme le moteur ouvre les siennes : la référence ne doit pas
  // payer ce que le moteur s'épargne.
  int rc = sqlite3_open_v2(chemin.c_str(), &db_, drapeaux | SQLITE_OPEN_NOMUTEX, "unix");
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    Echoue("ouverture de " + chemin + " : " + message);
  }
  auto fonction = regles == Regles::Strictes ? RegleStricte : RegleEcartee;
  VerifieSqlite(db_, sqlite3_create_function_v2(db_, "utireorg_ignore", 0, SQLITE_UTF8, nullptr, fonction, nullptr, nullptr, nullptr),
                "fonction des règles");
}

Sqlite::~Sqlite() { sqlite3_close_v2(db_); }

void Sqlite::Execute(const std::string& texte, const char* quoi) const {
  VerifieSqlite(db_, sqlite3_exec(db_, texte.c_str(), nullptr, nullptr, nullptr), quoi);
}

long long Sqlite::Entier(const std::string& requete) const {
  Instruction st(*this, requete);
  int rc = sqlite3_step(st.get());
  VerifieSqlite(db_, rc, requete.c_str());
  return rc == SQLITE_ROW ? sqlite3_column_int64(st.get(), 0) : 0;
}

Controle& Controle::operator+=(const Controle& autre) {
  lignes += autre.lignes;
  octetsTexte += autre.octetsTexte;
  nuls += autre.nuls;
  return *this;
}

namespace {
// Empêche le compilateur d'écarter des valeurs lues puis jamais utilisées.
volatile long long puits = 0;
}  // namespace

Controle ParcoursDirect(const Sqlite& base, const std::string& table) {
  Controle c;
  long long somme = 0;
  double sommeReels = 0;
  Instruction st(base, "SELECT * FROM \"" + table + "\"");
  const int colonnes = sqlite3_column_count(st.get());
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    ++c.lignes;
    for (int i = 0; i < colonnes; ++i) {
      switch (sqlite3_column_type(st.get(), i)) {
        case SQLITE_INTEGER: somme += sqlite3_column_int64(st.get(), i); break;
        case SQLITE_FLOAT: sommeReels += sqlite3_column_double(st.get(), i); break;
        case SQLITE_TEXT:
          somme += sqlite3_column_text(st.get(), i)[0];
          c.octetsTexte += sqlite3_column_bytes(st.get(), i);
          break;
        case SQLITE_BLOB:
          sqlite3_column_blob(st.get(), i);
          c.octetsTexte += sqlite3_column_bytes(st.get(), i);
          break;
        default: ++c.nuls; break;
      }
    }
  }
  VerifieSqlite(base.db(), rc, "lecture directe");
  puits = puits + somme + static_cast<long long>(sommeReels);
  return c;
}

Instruction::Instruction(const Sqlite& base, const std::string& texte) {
  VerifieSqlite(base.db(), sqlite3_prepare_v2(base.db(), texte.c_str(), -1, &st_, nullptr), texte.c_str());
}

Instruction::~Instruction() { sqlite3_finalize(st_); }

}  // namespace banc
