#!/usr/bin/env bash
# Construit utireorg, crée les bases de démonstration et les décrit.
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
"$racine/scripts/dependances.sh"
construction="${CONSTRUCTION:-$racine/build}"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUTIREORG_TESTS=OFF
cmake --build "$construction" -j "$(nproc)"
sortie="${DEMO:-$racine/out/demo}"
mkdir -p "$sortie/Logiciel/Dossier"
outil="$construction/tools/utireorg-base"
rm -f "$sortie/Logiciel/Compta.mdb" "$sortie/Logiciel/Dossier/Compta.mdb"
"$outil" creer "$racine/demo/modele.json" "$sortie/Logiciel/Compta.mdb"
"$outil" creer "$racine/demo/cible.json" "$sortie/Logiciel/Dossier/Compta.mdb"
echo "Base modèle : $sortie/Logiciel/Compta.mdb"
echo "Base cible  : $sortie/Logiciel/Dossier/Compta.mdb"
"$outil" verifier "$sortie/Logiciel/Dossier/Compta.mdb" || echo "(la base cible contient des enregistrements défectueux, comme prévu)"
"$outil" sql "$sortie/Logiciel/Dossier/Compta.mdb" "SELECT * FROM [Clients]"
