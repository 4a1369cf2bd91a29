// Without a display it can use, Qt ends the program with an English text and an abort. While the
// application object is being made, this guard keeps Qt's texts back; if Qt gives up, the
// program's own action says it in French and the program ends with a plain exit code.
#pragma once

#include <QtGlobal>
#include <cstdlib>
#include <string>

namespace utireorg {

class GardeAffichage {
 public:
  // `echec` writes the program's message; the program then ends with `code`.
  GardeAffichage(void (*echec)(), int code) {
    Echec() = echec;
    Code() = code;
    precedent_ = qInstallMessageHandler(&GardeAffichage::Intercepte);
  }
  ~GardeAffichage() { Fin(); }
  GardeAffichage(const GardeAffichage&) = delete;
  GardeAffichage& operator=(const GardeAffichage&) = delete;

  // The application object is made: Qt's messages go where they went before.
  void Fin() {
    if (!actif_) return;
    qInstallMessageHandler(precedent_);
    actif_ = false;
  }

  // The display the environment names, for the message: "DISPLAY=:0", or nothing named.
  static std::string AffichageNomme() {
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY"})
      if (const char* valeur = std::getenv(variable); valeur && *valeur) return std::string(variable) + "=" + valeur;
    return {};
  }

 private:
  static void (*&Echec())() {
    static void (*echec)() = nullptr;
    return echec;
  }
  static int& Code() {
    static int code = 1;
    return code;
  }
  static void Intercepte(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtFatalMsg) return;
    if (Echec()) Echec()();
    std::_Exit(Code());
  }

  QtMessageHandler precedent_ = nullptr;
  bool actif_ = true;
};

}  // namespace utireorg
