// Two rules Jet files rely on: a GUID field whose default is GenGUID() gets a new GUID with every
// record, whatever writes it; a Yes/No field never holds Null.
#include <regex>
#include <set>

#include "OutilsMoteur.h"
#include "commun/EchantillonsJet.h"

using namespace moteur;
using namespace outils;

namespace {

bool EstGuid(const std::string& texte) {
  static const std::regex forme("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  return std::regex_match(texte, forme);
}

class TypesJet : public TestMoteur {
 protected:
  // Pieces(Code GUID with GenGUID(), Nom Text 20, Actif Yes/No).
  Database BasePieces() {
    auto base = Cree();
    auto td = base.CreateTableDef("Pieces");
    auto code = td.CreateField("Code", dbGUID);
    code.SetDefaultValue("GenGUID()");
    td.Fields().Append(code);
    td.Fields().Append(td.CreateField("Nom", dbText, 20));
    td.Fields().Append(td.CreateField("Actif", dbBoolean));
    base.TableDefs().Append(td);
    return base;
  }
};

TEST_F(TypesJet, UnChampGuidGenereUnGuidParEnregistrementSurChaqueChemin) {
  auto base = BasePieces();
  EXPECT_EQ(base.TableDefs()["Pieces"].Fields()["Code"].Type(), dbGUID);
  Ajoute(base, "Pieces", {{"Nom", "a"}});
  Ajoute(base, "Pieces", {{"Nom", "b"}});
  base.Execute("INSERT INTO Pieces (Nom) VALUES ('c')", dbFailOnError);
  base.Execute("INSERT INTO Pieces (Nom) SELECT Nom FROM Pieces", dbFailOnError);
  auto codes = Colonne(base, "SELECT Code FROM Pieces", "Code");
  ASSERT_EQ(codes.size(), 6u);
  for (const auto& c : codes) EXPECT_TRUE(EstGuid(c)) << c;
  EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()).size(), 6u);
}

TEST_F(TypesJet, LaFormeTexteDUnGuidEstControlee) {
  auto base = BasePieces();
  Ajoute(base, "Pieces", {{"Code", "0123abcd-4567-89ab-cdef-0123456789AB"}, {"Nom", "x"}});
  EXPECT_EQ(Colonne(base, "SELECT Code FROM Pieces", "Code"),
            std::vector<std::string>{"{0123ABCD-4567-89AB-CDEF-0123456789AB}"});
  EXPECT_ERREUR(err::ConversionImpossible, Ajoute(base, "Pieces", {{"Code", "pas un guid"}}));
  EXPECT_ERREUR(err::ConversionImpossible, base.Execute("INSERT INTO Pieces (Code) VALUES ('{0123}')", dbFailOnError));
  EXPECT_EQ(Compte(base, "Pieces"), 1);
}

TEST_F(TypesJet, UnChampOuiNonNeTientJamaisNull) {
  auto base = BasePieces();
  Ajoute(base, "Pieces", {{"Nom", "sans valeur"}});
  Ajoute(base, "Pieces", {{"Nom", "nul"}, {"Actif", Valeur::Nul()}});
  base.Execute("INSERT INTO Pieces (Nom) VALUES ('instruction')", dbFailOnError);
  base.Execute("INSERT INTO Pieces (Nom, Actif) VALUES ('vrai', True)", dbFailOnError);
  base.Execute("UPDATE Pieces SET Actif = Null WHERE Nom = 'vrai'", dbFailOnError);
  EXPECT_EQ(Colonne(base, "SELECT Actif FROM Pieces ORDER BY Nom", "Actif"),
            (std::vector<std::string>{"Faux", "Faux", "Faux", "Faux"}));
  EXPECT_EQ(Colonne(base, "SELECT count(*) AS N FROM Pieces WHERE Actif IS NULL", "N"), std::vector<std::string>{"0"});
  // A record a damaged file holds with Null there reads False all the same.
  EcritSansControle(base, "Pieces", {{"Nom", Valeur("ancien")}, {"Actif", Valeur::Nul()}});
  EXPECT_EQ(Colonne(base, "SELECT Actif FROM Pieces WHERE Nom = 'ancien'", "Actif"), std::vector<std::string>{"Faux"});
  auto rs = base.OpenRecordset("Pieces");
  rs.AddNew();
  EXPECT_EQ(rs["Actif"].Value().EnTexte(), "Faux");
  rs.CancelUpdate();
}

// A Jet file's Replication ID field with GenGUID() keeps generating once converted.
TEST_F(TypesJet, LeChampGuidDUnFichierJetGenereToujours) {
  ECHANTILLON_JET(source, "testV1997.mdb");
  ASSERT_SANS_ERREUR(ConvertitJet(source, Chemin("converti.bd"), "4.0"));
  auto base = DBEngine::OpenDatabase(Chemin("converti.bd"));
  auto data = base.TableDefs()["Table4"].Fields()["data"];
  EXPECT_EQ(data.Type(), dbGUID);
  EXPECT_EQ(data.DefaultValue(), "GenGUID()");
  base.Execute("INSERT INTO Table4 (name) VALUES ('un')", dbFailOnError);
  Ajoute(base, "Table4", {{"name", "deux"}});
  auto codes = Colonne(base, "SELECT data FROM Table4", "data");
  ASSERT_EQ(codes.size(), 2u);
  EXPECT_TRUE(EstGuid(codes[0]) && EstGuid(codes[1]) && codes[0] != codes[1]) << codes[0] << " " << codes[1];
}

}  // namespace
