// The window interface of the Qt main window: what the run driver and its stages ask of the
// window (captions, progress bar, journal view, pointer, options, messages) done on its widgets.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/InterfaceFenetre.h"

namespace utireorg {

class FrmUtiReorg;

class FenetreQt : public InterfaceFenetre {
 public:
  // The window must outlive this object; its widgets are looked up at each call, so this may
  // be built before them.
  explicit FenetreQt(FrmUtiReorg& fenetre) : fenetre_(fenetre) {}
  ~FenetreQt() override;

  void Legendes(const std::string& etape, const std::string& detail) override;

  void ProgressMaximum(long maximum) override;
  long ProgressMaximum() const override;
  // Values outside 0..maximum are brought back inside rather than refused.
  void ProgressValeur(long valeur) override;
  long ProgressValeur() const override;
  void ProgressVisible(bool visible) override;

  void AjouteAuJournal(const std::string& texte) override;
  // The view's text with its lines ended by CR LF, as the journal wrote them.
  std::string TexteJournal() const override;

  void Pointeur(PointeurSouris pointeur) override;
  void Bip() override;

  bool Coche(int index) const override;
  bool Case(const std::string& nom) const override;
  std::string Saisie(int index) const override;

  std::optional<int> PresenteMessage(const MessageAnalyse& message) override;

  void ActiveBouton(int index, bool actif) override;
  void AvancementEnErreur() override;
  void FermeFenetre() override;
  void AvancementDossiers(int numero, int nombre, const std::string& legende) override;
  std::string Legende() const override;

  std::vector<std::string> LegendesFenetres() const override;

 protected:
  void TraiteEvenements() override;

 private:
  FrmUtiReorg& fenetre_;
  bool sablier_ = false;
};

}  // namespace utireorg
