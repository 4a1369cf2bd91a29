#!/usr/bin/env bash
# Construit utireorg, crée les bases de démonstration dans un dossier de travail neuf et les
# réorganise sans écran avec toutes les options ; affiche la fin du journal d'analyse et la
# vérification de la base obtenue.
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
"$racine/scripts/dependances.sh"
construction="${CONSTRUCTION:-$racine/build}"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$construction" -j "$(nproc)" --target utireorg-base utireorg-lot

outil="$construction/tools/utireorg-base"
lot="$construction/tools/utireorg-lot"
sortie="${DEMO:-$racine/out/demo}"
rm -rf "$sortie"
mkdir -p "$sortie/Logiciel/Dossier1"
modele="$sortie/Logiciel/Compta.mdb"
cible="$sortie/Logiciel/Dossier1/Compta.mdb"

# La base modèle est celle du logiciel installé ; la base à analyser est celle d'un dossier, un
# niveau plus bas, comme la vérification de structure les cherche.
"$outil" creer "$racine/demo/modele.json" "$modele" >/dev/null
"$outil" creer "$racine/demo/cible.json" "$cible" >/dev/null 2>&1
echo "Base modèle : $modele"
echo "Base cible  : $cible"
echo

# Le journal « Analyse.txt » s'écrit dans le dossier courant. « --oui » accepte la vérification
# des enregistrements que propose une erreur 3163.
code=0
(cd "$sortie" && "$lot" --cible "$cible" --modele "$modele" --options 0,1,2,3,4,5 --copie --ligne-a-ligne \
  --avance --oui) >"$sortie/sortie.txt" || code=$?

echo "----- Fin du journal d'analyse ($sortie/Analyse.txt) -----"
tail -n 30 "$sortie/Analyse.txt" | iconv -f CP1252 -t UTF-8 | tr -d '\r'
echo
echo "----- Vérification de la base réorganisée -----"
"$outil" verifier "$cible" || true
echo
case $code in
  0) echo "Procédure terminée." ;;
  1) echo "Procédure interrompue !" ;;
  *) echo "Réorganisation refusée (code $code)." ;;
esac
echo "Journal d'analyse : $sortie/Analyse.txt"
exit "$code"
