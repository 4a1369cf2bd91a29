// The window of a run without a screen (command line, scripts): it keeps what a window would
// show, prints messages to the error output and answers them itself.
#pragma once

#include <deque>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "common/InterfaceFenetre.h"

namespace utireorg {

// A message as the run without screen prints it: the title and the kind of message, the text,
// then the buttons in row order with their access marker removed, the focused one marked "*" and
// the cancel one "(Échap)". Ends with a line break.
std::string TexteMessageSansEcran(const MessageAnalyse& message);

// The button a run without screen presses: the focused one, else the first (1-based); 1 when
// the row is empty.
int BoutonParDefaut(const MessageAnalyse& message);

class FenetreSansEcran : public InterfaceFenetre {
 public:
  // Messages go to the error output unless another stream is given; the stream must outlive
  // the window. The window does not make itself the current one: the caller passes it to
  // DefinitFenetre, and the destructor withdraws it if it is still current.
  FenetreSansEcran();
  explicit FenetreSansEcran(std::ostream& sortie);
  ~FenetreSansEcran() override;

  // With true, the progress captions are printed to the stream as they change.
  void AfficheAvancement(bool afficher) { afficheAvancement_ = afficher; }

  void Legendes(const std::string& etape, const std::string& detail) override;
  void ProgressMaximum(long maximum) override { progressMaximum_ = maximum; }
  long ProgressMaximum() const override { return progressMaximum_; }
  void ProgressValeur(long valeur) override { progressValeur_ = valeur; }
  long ProgressValeur() const override { return progressValeur_; }
  void ProgressVisible(bool visible) override { progressVisible_ = visible; }
  bool ProgressVisible() const { return progressVisible_; }

  void AjouteAuJournal(const std::string& texte) override { journal_ += texte; }
  std::string TexteJournal() const override { return journal_; }

  void Pointeur(PointeurSouris pointeur) override { pointeur_ = pointeur; }
  PointeurSouris Pointeur() const { return pointeur_; }
  void Bip() override { ++bips_; }
  int Bips() const { return bips_; }

  bool Coche(int index) const override;
  bool Case(const std::string& nom) const override;
  std::string Saisie(int index) const override;
  void DefinitCoche(int index, bool valeur) { coches_[index] = valeur; }
  void DefinitCase(const std::string& nom, bool valeur) { cases_[nom] = valeur; }
  void DefinitSaisie(int index, std::string valeur) { saisies_[index] = std::move(valeur); }

  // Prints the message and sounds its beeps (counted in Bips). The answer is the next scripted
  // one when RepondAvec gave some, else the focused button, else the first. A scripted answer
  // outside the row answers nothing, as a message that could not be shown.
  std::optional<int> PresenteMessage(const MessageAnalyse& message) override;
  // Answers for the next messages, in order; once they are used up the default answer resumes.
  void RepondAvec(std::vector<int> reponses) { reponses_.assign(reponses.begin(), reponses.end()); }
  const std::vector<MessageAnalyse>& Messages() const { return messages_; }

  std::vector<std::string> LegendesFenetres() const override { return fenetres_; }
  void DefinitLegendesFenetres(std::vector<std::string> legendes) { fenetres_ = std::move(legendes); }

 protected:
  void TraiteEvenements() override {}

 private:
  std::ostream* sortie_;
  bool afficheAvancement_ = false;
  std::string etape_, detail_;
  long progressMaximum_ = 100, progressValeur_ = 0;
  bool progressVisible_ = false;
  std::string journal_;
  PointeurSouris pointeur_ = PointeurSouris::Normal;
  int bips_ = 0;
  std::map<int, bool> coches_;
  std::map<std::string, bool> cases_;
  std::map<int, std::string> saisies_;
  std::deque<int> reponses_;
  std::vector<MessageAnalyse> messages_;
  std::vector<std::string> fenetres_{TitreApplication()};
};

}  // namespace utireorg
