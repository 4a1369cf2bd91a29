// A scripted window for the tests: records what the stages show and answers messages as told.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "common/InterfaceFenetre.h"

namespace utireorg::tests {

class FenetreFactice : public InterfaceFenetre {
 public:
  FenetreFactice() { DefinitFenetre(this); }
  ~FenetreFactice() override {
    if (FenetreCourante() == this) DefinitFenetre(nullptr);
  }

  void Legendes(const std::string& etape, const std::string& detail) override {
    legendes.emplace_back(etape, detail);
  }
  void ProgressMaximum(long maximum) override { progressMax = maximum; }
  long ProgressMaximum() const override { return progressMax; }
  void ProgressValeur(long valeur) override {
    progress = valeur;
    valeursProgress.push_back(valeur);
  }
  long ProgressValeur() const override { return progress; }
  void ProgressVisible(bool visible) override { progressVisible = visible; }
  void AjouteAuJournal(const std::string& texte) override { journal += texte; }
  std::string TexteJournal() const override { return journal; }
  void Pointeur(PointeurSouris p) override { pointeurs.push_back(p); }
  void Bip() override { ++bips; }
  bool Coche(int index) const override {
    auto it = coches.find(index);
    return it != coches.end() && it->second;
  }
  bool Case(const std::string& nom) const override {
    auto it = cases.find(nom);
    return it != cases.end() && it->second;
  }
  std::string Saisie(int index) const override {
    auto it = saisies.find(index);
    return it == saisies.end() ? std::string() : it->second;
  }
  // Answers with the next scripted reply, else with the focused button (else the first).
  std::optional<int> PresenteMessage(const MessageAnalyse& message) override {
    messages.push_back(message);
    if (!reponses.empty()) {
      int r = reponses.front();
      reponses.pop_front();
      return r;
    }
    for (std::size_t i = 0; i < message.boutons.size(); ++i)
      if (message.boutons[i].focus) return static_cast<int>(i) + 1;
    return 1;
  }
  std::vector<std::string> LegendesFenetres() const override { return fenetres; }

  // What the test scripts or reads back.
  std::vector<std::pair<std::string, std::string>> legendes;
  long progressMax = 100, progress = 0;
  bool progressVisible = false;
  std::vector<long> valeursProgress;
  std::string journal;
  std::vector<PointeurSouris> pointeurs;
  int bips = 0;
  std::map<int, bool> coches;
  std::map<std::string, bool> cases;
  std::map<int, std::string> saisies;
  std::deque<int> reponses;
  std::vector<MessageAnalyse> messages;
  std::vector<std::string> fenetres{"Utilitaire de réorganisation de bases de données"};
  int evenements = 0;

 protected:
  void TraiteEvenements() override { ++evenements; }
};

}  // namespace utireorg::tests

// The tests live in namespaces of their own: the window's controls are named the same way there.
namespace coche = utireorg::coche;
namespace saisie = utireorg::saisie;
namespace bouton = utireorg::bouton;
namespace cases = utireorg::cases;
