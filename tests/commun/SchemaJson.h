// Checks a JSON document against a JSON Schema, for the keywords the project's schemas use:
// type, const, enum, pattern, minimum, maximum, required, properties, additionalProperties
// (false), items and local $ref ("#/$defs/..."). Each fault is told with its JSON pointer.
#pragma once

#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

namespace schema {

using Json = nlohmann::ordered_json;

class Validateur {
 public:
  explicit Validateur(Json schema) : racine_(std::move(schema)) {}

  std::vector<std::string> Fautes(const Json& document) {
    fautes_.clear();
    Valide(racine_, document, "");
    return fautes_;
  }

 private:
  static bool EstDuType(const Json& v, const std::string& type) {
    if (type == "object") return v.is_object();
    if (type == "array") return v.is_array();
    if (type == "string") return v.is_string();
    if (type == "integer") return v.is_number_integer();
    if (type == "number") return v.is_number();
    if (type == "boolean") return v.is_boolean();
    if (type == "null") return v.is_null();
    return false;
  }

  const Json& Resout(const Json& schema) const {
    if (!schema.contains("$ref")) return schema;
    const std::string ref = schema["$ref"];
    return racine_.at(Json::json_pointer(ref.substr(1)));
  }

  void Faute(const std::string& chemin, const std::string& texte) { fautes_.push_back((chemin.empty() ? "/" : chemin) + " : " + texte); }

  void Valide(const Json& schemaBrut, const Json& v, const std::string& chemin) {
    const Json& s = Resout(schemaBrut);
    if (s.contains("type")) {
      bool bon = false;
      for (const Json& t : s["type"].is_array() ? s["type"] : Json::array({s["type"]})) bon = bon || EstDuType(v, t);
      if (!bon) return Faute(chemin, "type attendu " + s["type"].dump() + ", trouvé " + v.dump());
    }
    if (s.contains("const") && v != s["const"]) Faute(chemin, "valeur attendue " + s["const"].dump());
    if (s.contains("enum") && std::find(s["enum"].begin(), s["enum"].end(), v) == s["enum"].end())
      Faute(chemin, v.dump() + " n'est pas parmi " + s["enum"].dump());
    if (s.contains("pattern") && v.is_string() && !std::regex_search(v.get<std::string>(), std::regex(s["pattern"].get<std::string>())))
      Faute(chemin, v.dump() + " ne suit pas " + s["pattern"].dump());
    if (s.contains("minimum") && v.is_number() && v.get<double>() < s["minimum"].get<double>()) Faute(chemin, "trop petit");
    if (s.contains("maximum") && v.is_number() && v.get<double>() > s["maximum"].get<double>()) Faute(chemin, "trop grand");
    if (v.is_object()) {
      for (const Json& cle : s.value("required", Json::array()))
        if (!v.contains(cle.get<std::string>())) Faute(chemin, "clé obligatoire absente : " + cle.get<std::string>());
      const Json proprietes = s.value("properties", Json::object());
      for (const auto& [cle, valeur] : v.items()) {
        if (proprietes.contains(cle))
          Valide(proprietes[cle], valeur, chemin + "/" + cle);
        else if (s.value("additionalProperties", true) == false)
          Faute(chemin, "clé non décrite : " + cle);
      }
    }
    if (v.is_array() && s.contains("items"))
      for (std::size_t i = 0; i < v.size(); ++i) Valide(s["items"], v[i], chemin + "/" + std::to_string(i));
  }

  Json racine_;
  std::vector<std::string> fautes_;
};

}  // namespace schema
