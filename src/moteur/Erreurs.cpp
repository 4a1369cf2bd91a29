#include "moteur/Erreurs.h"

#include <atomic>
#include <map>

namespace moteur {
namespace {

// Wording is ours; the numbers are the ones callers and stored journals rely on.
const std::map<int, std::string_view>& Descriptions() {
  static const std::map<int, std::string_view> table = {
      {61, "Disque plein."},
      {70, "Permission refusée : le fichier '|1' est utilisé par un autre processus."},
      {3009, "La table '|1' est verrouillée par un autre utilisateur."},
      {3010, "La table '|1' existe déjà."},
      {3011, "L'objet '|1' est introuvable dans la base de données."},
      {3012, "L'objet '|1' existe déjà."},
      {3020, "Mise à jour ou annulation sans AddNew ni Edit."},
      {3021, "Aucun enregistrement en cours."},
      {3022,
       "Les modifications n'ont pas été effectuées : elles créeraient des doublons dans un index, une clé primaire ou "
       "une relation (|1)."},
      {3024, "Fichier '|1' introuvable."},
      {3026, "Espace disque insuffisant."},
      {3027, "Mise à jour impossible : la base de données ou l'objet '|1' est en lecture seule."},
      {3034, "Validation ou annulation sans BeginTrans."},
      {3035, "Ressources système dépassées."},
      {3043, "Erreur de disque ou de réseau."},
      {3044, "'|1' n'est pas un chemin d'accès valide."},
      {3045, "Impossible d'utiliser '|1' : le fichier est déjà utilisé."},
      {3046, "Enregistrement impossible : verrouillé par un autre utilisateur."},
      {3049,
       "Impossible d'ouvrir la base de données '|1' : elle est endommagée ou n'est pas une base de données reconnue."},
      {3051, "Le moteur de base de données ne peut pas ouvrir le fichier '|1' : accès refusé."},
      {3058, "Un index ou une clé primaire ne peut pas contenir de valeur Null (champ '|1')."},
      {3061, "Paramètres insuffisants ou champ inconnu."},
      {3065, "Impossible d'exécuter une requête Sélection."},
      {3075, "Erreur de syntaxe dans l'expression '|1'."},
      {3078, "Le moteur de base de données ne trouve pas la table ou la requête '|1'."},
      {3112, "Lecture impossible : pas d'autorisation de lecture sur '|1'."},
      {3125, "'|1' n'est pas un nom valide."},
      {3127, "L'instruction INSERT INTO contient un nom de champ inconnu : '|1'."},
      {3129, "Instruction SQL non valide : 'DELETE', 'INSERT', 'SELECT' ou 'UPDATE' attendu."},
      {3134, "Erreur de syntaxe dans l'instruction INSERT INTO."},
      {3142, "Caractères trouvés après la fin de l'instruction SQL."},
      {3144, "Erreur de syntaxe dans l'instruction UPDATE."},
      {3158, "Enregistrement impossible : verrouillé par un autre utilisateur."},
      {3159, "Signet non valide."},
      {3163, "Le champ '|1' est trop petit pour la quantité de données que vous essayez d'y placer."},
      {3167, "L'enregistrement a été supprimé."},
      {3183, "Espace disque temporaire insuffisant pour terminer l'opération."},
      {3186, "Enregistrement impossible : verrouillé par un autre utilisateur."},
      {3187, "Lecture impossible : verrouillé par un autre utilisateur."},
      {3188, "Mise à jour impossible : verrouillé par une autre session sur cette machine."},
      {3189, "La table '|1' est verrouillée exclusivement par un autre utilisateur."},
      {3191, "Impossible de définir le champ '|1' plus d'une fois."},
      {3197, "Les données ont été modifiées par un autre utilisateur depuis le début de la modification."},
      {3200,
       "L'enregistrement ne peut pas être supprimé ou modifié : la table '|1' contient des enregistrements liés."},
      {3201, "Ajout ou modification impossible : un enregistrement lié est requis dans la table '|1'."},
      {3202, "Enregistrement impossible : verrouillé par un autre utilisateur."},
      {3204, "La base de données '|1' existe déjà."},
      {3211, "Le moteur n'a pas pu verrouiller la table '|1' : elle est utilisée par un autre processus."},
      {3212, "Verrouillage impossible : la table '|1' est utilisée par un autre utilisateur."},
      {3218, "Mise à jour impossible : verrouillé."},
      {3219, "Opération non valide."},
      {3251, "Opération non gérée pour ce type d'objet."},
      {3259, "Type de données de champ ou de propriété non valide."},
      {3260, "Mise à jour impossible : verrouillé par un autre utilisateur."},
      {3261, "La table '|1' est verrouillée exclusivement par un autre utilisateur."},
      {3262, "Verrouillage de la table impossible : elle est en cours d'utilisation."},
      {3263, "Type de verrou de base de données non valide."},
      {3264, "Aucun champ n'est défini : impossible d'ajouter la table '|1'."},
      {3265, "Élément '|1' non trouvé dans cette collection."},
      {3270, "Propriété '|1' introuvable."},
      {3280, "Impossible de supprimer un champ qui fait partie d'un index."},
      {3283, "La clé primaire existe déjà."},
      {3301, "Version de la base de données indéterminée."},
      {3303, "Suppression ou modification impossible : '|1' fait partie d'une ou plusieurs relations."},
      {3314, "Le champ '|1' ne peut pas contenir de valeur Null car sa propriété Required est à True."},
      {3315, "Le champ '|1' ne peut pas être une chaîne vide."},
      {3317, "Les modifications n'ont pas été effectuées : une règle de la table a refusé la valeur (|1)."},
      {3343, "Format de base de données non reconnu '|1'."},
      {3349, "Dépassement de capacité d'un champ numérique ('|1')."},
      {3356, "La base de données '|1' est déjà ouverte en mode exclusif par un autre utilisateur."},
      {3367, "Ajout impossible : un objet nommé '|1' existe déjà dans la collection."},
      {3368, "La relation doit porter sur le même nombre de champs de même type."},
      {3374, "La table '|1' a déjà un index nommé ainsi."},
      {3375, "La table a déjà un index nommé '|1'."},
      {3377, "Aucun champ n'est défini : impossible d'ajouter l'index '|1'."},
      {3378, "Cette propriété ne peut pas être définie pour un champ de ce type."},
      {3420, "Objet non valide ou qui n'est plus défini."},
      {3421, "Erreur de conversion de type de données (champ '|1')."},
      {3469, "Espace disque insuffisant pour terminer l'opération."},
      {3472, "Espace disque insuffisant."},
      {3559, "Espace disque insuffisant pour créer le fichier."},
      {3569, "Espace disque insuffisant."},
      {3575, "Espace disque insuffisant."},
      {3624, "L'enregistrement n'a pas pu être lu : il est verrouillé par un autre utilisateur."},
  };
  return table;
}

// An argument left empty takes its quotes or brackets with it, so the sentence still reads well.
std::string Remplace(std::string_view modele, std::initializer_list<std::string_view> arguments) {
  std::string texte;
  texte.reserve(modele.size() + 32);
  for (std::size_t i = 0; i < modele.size(); ++i) {
    if (modele[i] != '|' || i + 1 >= modele.size() || modele[i + 1] < '1' || modele[i + 1] > '9') {
      texte += modele[i];
      continue;
    }
    std::size_t rang = static_cast<std::size_t>(modele[i + 1] - '1');
    std::string_view argument = rang < arguments.size() ? *(arguments.begin() + rang) : std::string_view();
    ++i;
    if (!argument.empty()) {
      texte += argument;
      continue;
    }
    char avant = texte.empty() ? '\0' : texte.back();
    char apres = i + 1 < modele.size() ? modele[i + 1] : '\0';
    if ((avant == '\'' && apres == '\'') || (avant == '(' && apres == ')')) {
      texte.pop_back();
      ++i;
      if (!texte.empty() && texte.back() == ' ') texte.pop_back();
    }
  }
  return texte;
}

}  // namespace

std::string DescriptionErreur(int numero, std::initializer_list<std::string_view> arguments) {
  const auto& table = Descriptions();
  auto it = table.find(numero);
  if (it == table.end()) return "Erreur du moteur de base de données (" + std::to_string(numero) + ").";
  std::string texte = Remplace(it->second, arguments);
  return texte;
}

// Listed by value here alone: no caller asks for one of these numbers but as one of the set.
bool EstErreurVerrou(int numero) noexcept {
  switch (numero) {
    case 3009: case 3045: case 3046: case 3158: case 3186: case 3187: case 3188: case 3189:
    case 3202: case 3211: case 3212: case 3218: case 3260: case 3261: case 3262: case 3263: case 3356:
    case 3624: return true;
    default: return false;
  }
}

namespace {
std::atomic<bool> limiteTailleAtteinte{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
}  // namespace

void NoteLimiteTailleFichier() noexcept { limiteTailleAtteinte.store(true); }
bool LimiteTailleFichierAtteinte() noexcept { return limiteTailleAtteinte.load(); }

}  // namespace moteur
