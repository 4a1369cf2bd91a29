// Time stamps of the journals, in French whatever the system's locale.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace utireorg {

// The clock the journals read; tests replace it to fix the time.
using Horloge = std::function<std::chrono::system_clock::time_point()>;
void DefinitHorloge(Horloge horloge);  // an empty function restores the system clock
std::chrono::system_clock::time_point Maintenant();

// "DDMMYY:HHNN" in local time: "071226:0524" for 7 December 2026 at 05:24.
std::string Horodatage(std::chrono::system_clock::time_point instant = Maintenant());
// "dddd d mmm yyyy h:mm:ss" in French: "mardi 8 déc. 2026 9:05:07".
std::string DateLongue(std::chrono::system_clock::time_point instant = Maintenant());

}  // namespace utireorg
