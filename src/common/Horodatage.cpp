#include "common/Horodatage.h"

#include <cstdio>
#include <ctime>

namespace utireorg {
namespace {

Horloge& HorlogeCourante() {
  static Horloge horloge;
  return horloge;
}

std::tm Local(std::chrono::system_clock::time_point instant) {
  std::time_t t = std::chrono::system_clock::to_time_t(instant);
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

}  // namespace

void DefinitHorloge(Horloge horloge) { HorlogeCourante() = std::move(horloge); }

std::chrono::system_clock::time_point Maintenant() {
  return HorlogeCourante() ? HorlogeCourante()() : std::chrono::system_clock::now();
}

std::string Horodatage(std::chrono::system_clock::time_point instant) {
  std::tm t = Local(instant);
  // Sized for any int the fields could hold, not only real dates: nothing is ever cut.
  char tampon[64];
  std::snprintf(tampon, sizeof tampon, "%02d%02d%02d:%02d%02d", t.tm_mday, t.tm_mon + 1, t.tm_year % 100, t.tm_hour,
                t.tm_min);
  return tampon;
}

std::string DateLongue(std::chrono::system_clock::time_point instant) {
  static const char* const jours[] = {"dimanche", "lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi"};
  static const char* const mois[] = {"janv.", "févr.", "mars", "avr.", "mai", "juin",
                                     "juil.", "août", "sept.", "oct.", "nov.", "déc."};
  std::tm t = Local(instant);
  char tampon[64];
  std::snprintf(tampon, sizeof tampon, "%s %d %s %d %d:%02d:%02d", jours[t.tm_wday], t.tm_mday, mois[t.tm_mon],
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return tampon;
}

}  // namespace utireorg
