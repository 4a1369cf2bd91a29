// Jet 3.0 and 4.0 files, read through libmdb.
//
// A Jet file is read once, at open, into a private database of this engine (its "image"):
// definitions, properties and records as stored, written without any write rule firing. The
// image lives in the temporary folder as a file SQLite unlinks the moment it creates it, so
// nothing is left behind even if the process is killed; it is opened read-only, which makes
// every write give 3027, and every other piece of the engine works on it unchanged.
//
// libmdb trusts the file: on a damaged one it may read out of bounds, abort or loop. It therefore
// runs in a child process that streams what it reads through a pipe; the parent builds the image.
// A crash, an early end or a silence of the child gives 3049, never a crash of the caller, and the
// parent's own writes (the image) keep going through the engine's file layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "moteur/Interne.h"

namespace moteur::jet {

// What a Jet file's first page says of it.
struct Entete {
  int version = 0;        // 0 for Jet 3.0, 1 for Jet 4.0
  long taillePage = 0;    // 2048 or 4096
  long long pages = 0;    // whole pages in the file
  long long reste = 0;    // bytes of a last page cut short, not read
};

// Checks the first page and the size of a Jet 3.0 or 4.0 file: 3049 when too short to hold its
// catalog or damaged, 3031 when encrypted or protected by a password. A last page cut short is
// left out, its whole pages still read.
Entete VerifieEntete(const std::string& chemin);

// The Jet file as a read-only database of this engine; "Version" is "3.0" or "4.0".
std::shared_ptr<BaseEtat> Ouvre(const std::string& chemin, bool exclusif);

// ---- The stream between the reading process and the builder ----

enum class Message : std::uint8_t {
  Base = 'B',      // properties of the database
  Table = 'T',     // a table's definition; its records follow
  Ligne = 'L',     // one record, in the order of the fields
  FinTable = 'F',  // no more records for the table
  Relation = 'R',
  Perte = 'P',     // what could not be read and was left out, one sentence; the reading goes on
  Erreur = 'E',    // number and description: the reading stops
  Fin = 'Z',
};

// Buffered writes to a pipe, in the reading process.
class Ecrivain {
 public:
  explicit Ecrivain(int fd) : fd_(fd) {}
  ~Ecrivain() { Vide(); }
  Ecrivain(const Ecrivain&) = delete;
  Ecrivain& operator=(const Ecrivain&) = delete;

  void Type(Message m) { Octet(static_cast<std::uint8_t>(m)); }
  void Octet(std::uint8_t o);
  void Entier(std::int64_t n);
  void Texte(std::string_view s);
  void Valeur(const moteur::Valeur& v);
  void Proprietes(const std::vector<DefPropriete>& liste);
  void Table(const DefTable& t);
  void Relation(const DefRelation& r);
  void Vide();  // writes what is buffered; a write that fails ends the process: the builder is gone

 private:
  int fd_;
  std::string tampon_;
};

// Reads of that stream in the builder; a silence longer than the limit or an early end throws 3049.
class Lecteur {
 public:
  Lecteur(int fd, std::string chemin, int silenceMaxMs) : fd_(fd), chemin_(std::move(chemin)), silenceMaxMs_(silenceMaxMs) {}
  Message Type() { return static_cast<Message>(Octet()); }
  std::uint8_t Octet();
  std::int64_t Entier();
  std::string Texte();
  moteur::Valeur Valeur();
  std::vector<DefPropriete> Proprietes();
  DefTable Table();
  DefRelation Relation();

 private:
  void Remplit();
  int fd_;
  std::string chemin_;
  int silenceMaxMs_;
  std::string tampon_;
  std::size_t position_ = 0;
};

// In the reading process: reads the whole file and writes it to the stream, ending with Fin or
// with Erreur. What cannot be read of a row, a table, an index or a relation is left out with a
// Perte, and the rest is read. Never returns an error otherwise.
void LitFichier(const std::string& chemin, const Entete& entete, Ecrivain& sortie);

// ---- Shared by the reading process and its tests ----

// Text as Jet stores it: UCS-2 (possibly compressed) in Jet 4.0, the file's code page in Jet 3.0.
std::string DecodeTexte(std::string_view octets, int version, int pageDeCode);
// A date as Jet stores it (days since 30/12/1899) to the nearest second; false when out of range.
bool DateDepuisJet(double jours, DateHeure& date);
// A scaled decimal of 17 bytes (sign, then four 32-bit words, most significant first) as exact text.
std::string DecimalEnTexte(const unsigned char* octets, int echelle);

}  // namespace moteur::jet
