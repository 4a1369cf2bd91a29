// The host application's all-folders mode and the space estimate of a folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace utireorg {

// The window of the all-folders mode: title label and folder caption.
inline constexpr const char* TitreTousDossiers = "Réorganiser tous les dossiers";
inline constexpr const char* LegendeTousDossiers = "Réorganisation...";

// A list object handed over by a host application: GetID gives nothing for a null identifier.
class ListeHote {
 public:
  virtual ~ListeHote() = default;
  virtual std::optional<std::string> GetID() = 0;
};

// The folder a host may name for the space estimate; nothing sets it, so it stays empty.
const std::string& NomDossierDefaut();

// Byte total of the ordinary files of a folder (no hidden entries, no folders), counted on 32
// bits: the count stops at the last total that fits. A relative folder is taken inside the model
// folder, an absolute one as it is. Every failure is ignored: a missing folder gives 0.
std::int32_t TailleDossier(const std::string& dossier);

// A byte count in whole kilobytes ("Ko"), or, above 5120 Ko, in megabytes ("Mo") rounded to the
// nearest, a half going to the even neighbour.
std::string TailleEnUnites(std::int64_t octets, std::string& unite);

// TailleDossier of the given folder (else of the default one) in TailleEnUnites' form.
std::string GetTailleDossier(std::string& unite, const std::optional<std::string>& vDossier = std::nullopt);

}  // namespace utireorg
