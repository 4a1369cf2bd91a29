// The null-record pass over a table of thousands of records: every null required value found,
// wherever it lies, and the other records left as they were.
#include "OutilsStructure.h"
#include "structure/ChampsNuls.h"

namespace utireorg::tests {
namespace {

using moteur::dbLong;
using moteur::dbText;

class NulsGrandeTable : public StructureTest {};

TEST_F(NulsGrandeTable, NullsTrouvesAuDebutAuMilieuEtALaFin) {
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10, true, "\"?\""}, {"Qte", dbLong, 0, true, "0"}, {"Libre", dbText, 20}});
    moteur::DBEngine::BeginTrans();
    moteur::Recordset rs = b.OpenRecordset("T");
    for (int i = 1; i <= 2500; ++i) {
      if (i == 20 || i == 1300 || i == 2500) {
        std::vector<std::pair<std::string, Valeur>> valeurs{{"Id", Valeur(i)}, {"Libre", Valeur("x")}};
        if (i != 1300) valeurs.push_back({"Qte", Valeur(i)});
        moteur::EcritSansControle(b, "T", valeurs);
        continue;
      }
      rs.AddNew();
      rs["Id"].SetValue(i);
      rs["Code"].SetValue("c" + std::to_string(i));
      rs["Qte"].SetValue(i);
      rs.Update();
    }
    rs.Close();
    moteur::DBEngine::CommitTrans();
  });
  moteur::Database cible = OuvreBase(cheminCible);
  VerificationChampsNuls(etat, cible);
  FermeBase(cible);

  EXPECT_EQ(Compte("Champ nul rencontré :'T.Code'... champ mis à jour !"), 3);
  EXPECT_EQ(Compte("Champ nul rencontré :'T.Qte'... champ mis à jour !"), 1);
  auto codes = ValeursColonne(Resultat(), "T", "Code");
  auto quantites = ValeursColonne(Resultat(), "T", "Qte");
  ASSERT_EQ(codes.size(), 2500u);
  for (int i = 1; i <= 2500; ++i) {
    const bool nul = i == 20 || i == 1300 || i == 2500;
    ASSERT_EQ(codes[i - 1], Valeur(nul ? std::string("?") : "c" + std::to_string(i))) << i;
    ASSERT_EQ(quantites[i - 1], Valeur(i == 1300 ? 0 : i)) << i;
  }
}

}  // namespace
}  // namespace utireorg::tests
