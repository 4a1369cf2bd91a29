// Database helpers: opening and closing, guarded writes that outlast the locks of other
// workstations sharing the files, a tolerant field reader and the "Priorite" dictionary property.
//
// A guarded write (AjouteTable, MiseAJour, SupprimeTable, SupprimeEnreg) returns true when done or
// when there was nothing to do, false when it failed. Its last argument says whether a failure is
// reported: by default it goes to GestionErreur with the application's title and the routine's
// code; Signalement::Silencieux leaves the caller to say what the failure means.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "moteur/Moteur.h"

namespace utireorg {

enum class Signalement { Message, Silencieux };

// Lock waits: how long a guarded write keeps trying, and the pause between two attempts.
inline constexpr std::chrono::seconds DelaiAttenteVerrou{120};
inline constexpr std::chrono::milliseconds PauseAttenteVerrou{10};

// The monotonic clock and the pause of the lock waits; tests replace them to cover the two
// minutes in no time. An empty function restores the real one.
using HorlogeAttente = std::function<std::chrono::steady_clock::time_point()>;
using PauseAttente = std::function<void(std::chrono::milliseconds)>;
void DefinitHorlogeAttente(HorlogeAttente horloge);
void DefinitPauseAttente(PauseAttente pause);
std::chrono::steady_clock::time_point MaintenantAttente();

// Errors of the engine reach the caller.
moteur::Database OuvreBase(const std::string& chemin, bool exclusif = false, bool lectureSeule = false,
                           const std::string& connect = {});
moteur::Recordset OuvreTable(moteur::Database& base, std::string_view source, int type = 0, int options = 0);

// Close what is open, clear the reference, never fail.
void FermeTable(moteur::Recordset& table) noexcept;
void FermeBase(moteur::Database& base) noexcept;

// True when the recordset holds no record; with a title, the user is told so. Otherwise the
// current record stays what it was.
bool TableVide(moteur::Recordset& table, const std::optional<std::string>& titre = {});

// Appends the definition; a table of that name that exists already is emptied instead.
bool AjouteTable(moteur::Database& base, moteur::TableDef& table, Signalement signalement = Signalement::Message);
// Stores the record being edited or added, then goes back to optimistic locking.
bool MiseAJour(moteur::Recordset& table, Signalement signalement = Signalement::Message);
// Deletes a table; one that does not exist counts as done.
bool SupprimeTable(moteur::Database& base, std::string_view nom, Signalement signalement = Signalement::Message);
// Deletes the current record; one already deleted by someone else counts as done.
bool SupprimeEnreg(moteur::Recordset& table, Signalement signalement = Signalement::Message);
// Commits the workspace's innermost transaction, waiting like the writes above while another
// workstation holds the file. True when done; false when it could not be, the transaction being
// still open for the caller to roll back. Reports nothing.
bool ValideTransaction();
// The error number that made the last of the guarded writes above fail, 0 after one that
// succeeded: a silent caller may still have to tell a full disk from a refused record.
int ErreurDerniereEcriture() noexcept;

// The field's value, a null replaced by the default of its type: 0 for Boolean and numbers,
// the empty value for a date, "" for the others. With ignoreErreurs, an unreadable field gives
// the empty value instead of an error.
moteur::Valeur LitChamp(moteur::Recordset& table, std::string_view champ, bool ignoreErreurs = false);
moteur::Valeur LitChamp(moteur::Recordset& table, int indice, bool ignoreErreurs = false);

// After a lock error of a guarded write begun at "debut": pauses briefly and returns true while
// the wait lasts less than DelaiAttenteVerrou, false once it is over.
bool AttenteTransaction(std::chrono::steady_clock::time_point debut);

// Replaces every occurrence, including those the replacements bring together ("aaa", "aa", "a"
// gives "a"). An empty text to find changes nothing; a replacement that holds the text to find
// replaces each occurrence present once, where searching again would never end.
void RemplaceTexte(std::string& texte, std::string_view chercher, std::string_view remplacer);

// The "Priorite" field property: bits 0, 1 and 2 are three independent slots.
inline constexpr const char* ProprietePriorite = "Priorite";
// Whether the slot is set, the value taken apart from slot 2 down against what remains (8 or more
// sets all three); false when the field has no such property.
bool LitPriorite(moteur::Database& base, std::string_view table, std::string_view champ, int slot);
// An empty list gives all three slots. Otherwise, for each position j of the list, the first of
// its elements 0 to 2 that holds j sets its own slot. Creates the property when the field has
// none; a failure is shown to the user.
void AffectePriorites(moteur::Database& base, std::string_view table, std::string_view champ,
                      const std::vector<int>& slots);

// The fields of the table's primary key, in order; empty when it has none or its definition
// cannot be read. What names a record to its user in the journal.
std::vector<std::string> ChampsDeLaCle(moteur::Database& base, const std::string& table);

}  // namespace utireorg
