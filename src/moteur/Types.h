// Constants of the engine's object model, with the values stored files and callers rely on.
#pragma once

#include <cmath>

namespace moteur {

// Field and property types.
inline constexpr int dbBoolean = 1;
inline constexpr int dbByte = 2;
inline constexpr int dbInteger = 3;
inline constexpr int dbLong = 4;
inline constexpr int dbCurrency = 5;
inline constexpr int dbSingle = 6;
inline constexpr int dbDouble = 7;
inline constexpr int dbDate = 8;
inline constexpr int dbBinary = 9;
inline constexpr int dbText = 10;
inline constexpr int dbLongBinary = 11;
inline constexpr int dbMemo = 12;
inline constexpr int dbGUID = 15;  // kept as its text form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

// Table definition attributes.
inline constexpr long long dbSystemObject = 0x80000002LL;
inline constexpr long long dbHiddenObject = 0x1LL;

// Field attributes.
inline constexpr long long dbFixedField = 0x1;
inline constexpr long long dbVariableField = 0x2;
inline constexpr long long dbAutoIncrField = 0x10;
inline constexpr long long dbUpdatableField = 0x20;

// Whether a whole number fits a field of this type: a damaged file or another program may hold
// one past the type's range, which no write through the engine would have stored. An autonumber
// holds whatever its counter gave.
inline constexpr bool EntierDansSonType(int type, long long attributs, long long valeur) {
  switch (type) {
    case dbByte: return valeur >= 0 && valeur <= 255;
    case dbInteger: return valeur >= -32768 && valeur <= 32767;
    case dbLong: return (attributs & dbAutoIncrField) != 0 || (valeur >= -2147483648LL && valeur <= 2147483647LL);
    default: return true;
  }
}

// The largest magnitude a Single holds, as the engine's rules bound it.
inline constexpr double ReelSimpleMax = 3.402823466e38;

// Whether a real number fits a field of this type: SQLite keeps an infinity, and a Single past
// what four bytes hold, that no write through the engine would have stored. NaN fits nothing.
inline bool ReelDansSonType(int type, double valeur) {
  switch (type) {
    case dbSingle: return std::fabs(valeur) <= ReelSimpleMax;
    case dbDouble: return std::isfinite(valeur);
    default: return true;
  }
}

// Whether a Null in a required field has a value of its type to take instead that the field
// accepts: a number's 0, an empty text where the field allows it. A Yes/No field reads No for
// Null, an autonumber is never Null; a date or a text refusing the empty one has no such value.
inline constexpr bool NulRemplacable(int type, long long attributs, bool chaineVideAdmise) {
  if ((attributs & dbAutoIncrField) != 0) return false;
  return (type >= dbByte && type <= dbDouble) || ((type == dbText || type == dbMemo) && chaineVideAdmise);
}

// Recordset types and options.
inline constexpr int dbOpenTable = 1;
inline constexpr int dbOpenDynaset = 2;
inline constexpr int dbOpenSnapshot = 4;
inline constexpr int dbOpenForwardOnly = 8;
inline constexpr int dbReadOnly = 4;
inline constexpr int dbFailOnError = 128;

// Relation attributes.
inline constexpr long long dbRelationUnique = 0x1;
inline constexpr long long dbRelationDontEnforce = 0x2;
inline constexpr long long dbRelationUpdateCascade = 0x100;
inline constexpr long long dbRelationDeleteCascade = 0x1000;

// Compaction options.
inline constexpr int dbEncrypt = 2;
inline constexpr int dbDecrypt = 4;
inline constexpr int dbVersion30 = 32;
inline constexpr int dbVersion40 = 64;

// Idle option.
inline constexpr int dbFreeLocks = 1;

// Locale of compacted files (the general sort order).
inline constexpr const char* dbLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";

// Largest size of a Text field.
inline constexpr int TailleTexteMax = 255;

bool TypeChampValide(int type);
// Size a field of this type has whatever is asked (0 for Text, whose size is chosen).
int TailleFixe(int type);
bool EstTypeTexte(int type);  // Text or Memo

}  // namespace moteur
