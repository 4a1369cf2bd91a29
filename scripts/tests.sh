#!/usr/bin/env bash
# Vérifie la mise en forme, construit utireorg et lance tous les tests, en trois temps :
#   1. la construction ordinaire et tous ses tests ;
#   2. la même suite construite avec AddressSanitizer et UndefinedBehaviorSanitizer : la première
#      faute signalée arrête le programme qui la commet et fait échouer son test ;
#   3. chaque cible de fuzzing (scripts/fuzz.sh) pendant un temps borné.
# Variables d'environnement :
#   CONSTRUCTION=DOSSIER        construction ordinaire (build par défaut) ; les deux autres sont
#                               DOSSIER-asan et DOSSIER-fuzz
#   UTIREORG_SANS_ASAN=1        saute le temps 2 (pour un essai rapide sur son poste)
#   UTIREORG_SANS_FUZZ=1        saute le temps 3
#   UTIREORG_FUZZ_SECONDES=N    durée de chaque cible de fuzzing (60 s par défaut)
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
debut=$(date +%s)
etape() { echo "==== $1 ($(($(date +%s) - debut)) s écoulées)"; }

"$racine/scripts/dependances.sh"

# The lines a branch changes, and the files kept whole in shape: never the whole tree.
etape "Mise en forme"
"$racine/scripts/format.sh" --verifier
construction="${CONSTRUCTION:-$racine/build}"
coeurs="$(nproc)"

etape "Construction ordinaire dans $construction"
# UTIREORG_TESTS explicitement : scripts/demo.sh construit dans le même dossier sans les tests, et le
# cache de CMake garderait son choix. UTIREORG_WERROR : un avertissement du compilateur arrête ici la
# construction ordinaire, qui doit rester muette. UTIREORG_BENCH : les mesures sont construites (pas
# lancées) pour qu'un changement d'interface ne les casse pas sans que personne le voie.
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUTIREORG_TESTS=ON \
  -DUTIREORG_WERROR=ON -DUTIREORG_BENCH=ON
cmake --build "$construction" -j "$coeurs"
etape "Tests de la construction ordinaire"
resultats="$construction/resultats-tests.xml"
(cd "$construction" && ctest --output-on-failure --no-tests=error -j "$coeurs" --timeout 900 --output-junit "$resultats")

# Les tests sautés, groupés par raison, dits une fois à la toute fin : les échantillons Jet ne font
# pas partie du dépôt, et un clone neuf sans eux saute chaque test qui les lit.
bilan_sautes() {
  [ -f "$resultats" ] || return 0
  awk '
    /<testcase / { saute = ($0 ~ /status="notrun"/); raison = ""; suivante = 0; next }
    saute && suivante && raison == "" { raison = $0; next }
    saute && /: Skipped$/ { suivante = 1; next }
    /<\/testcase>/ {
      if (saute) {
        if (raison ~ /chantillon/) jet++;
        else { autres[raison == "" ? "raison non donnée" : raison]++ }
      }
      saute = 0
    }
    END {
      if (jet > 0)
        printf "Tests sautés faute d'\''échantillons Jet (ni dans $UTIREORG_ECHANTILLONS_JET, ni dans ../shared/jet-samples) : %d.\n", jet
      for (r in autres) printf "Tests sautés (%s) : %d.\n", r, autres[r]
    }' "$resultats"
}

if [ "${UTIREORG_SANS_ASAN:-0}" != 1 ]; then
  asan="$construction-asan"
  etape "Construction avec AddressSanitizer et UndefinedBehaviorSanitizer dans $asan"
  (
    # Aussi pendant la construction : la découverte des tests lance chaque programme de tests.
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    # Fuites hors du projet (bibliothèques du système), chacune justifiée dans le fichier.
    suppressions="$racine/tests/sanitizers/lsan.supp"
    if [ -f "$suppressions" ]; then
      export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0"
    fi
    # Le même compilateur que la construction ordinaire, qui accepte donc le même code ; -O1 garde
    # des traces fidèles sans rendre les tests trop lents, -g1 se limite aux numéros de ligne.
    cmake -S "$racine" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
      -DUTIREORG_SANITIZERS=ON -DUTIREORG_TESTS=ON
    cmake --build "$asan" -j "$coeurs"
    etape "Tests sous AddressSanitizer et UndefinedBehaviorSanitizer"
    cd "$asan"
    # Les arrêts brutaux cherchent ici des fautes de mémoire, pas des états de la base : quelques
    # essais suffisent, la construction ordinaire fait la série complète.
    export UTIREORG_ESSAIS_PANNES="${UTIREORG_ESSAIS_PANNES_ASAN:-8}"
    export UTIREORG_PAS_COMMITS_PANNES="${UTIREORG_PAS_COMMITS_PANNES_ASAN:-5}"
    ctest --output-on-failure --no-tests=error -j "$coeurs" --timeout 1800
  )
fi

if [ "${UTIREORG_SANS_FUZZ:-0}" != 1 ]; then
  fuzz="$construction-fuzz"
  secondes="${UTIREORG_FUZZ_SECONDES:-60}"
  etape "Construction des cibles de fuzzing dans $fuzz"
  CONSTRUCTION_FUZZ="$fuzz" "$racine/scripts/fuzz.sh" --construire
  etape "Fuzzing, ${secondes} s par cible, $coeurs cibles à la fois"
  cibles=(balisage boutons touches dialecte base jet)
  echecs=()
  for ((i = 0; i < ${#cibles[@]}; i += coeurs)); do
    lot=("${cibles[@]:i:coeurs}")
    pids=()
    for cible in "${lot[@]}"; do
      CONSTRUCTION_FUZZ="$fuzz" UTIREORG_FUZZ_CONSTRUIT=1 "$racine/scripts/fuzz.sh" "$cible" "$secondes" &
      pids+=($!)
    done
    for k in "${!pids[@]}"; do
      wait "${pids[$k]}" || echecs+=("${lot[$k]}")
    done
  done
  if [ ${#echecs[@]} -gt 0 ]; then
    echo "ÉCHEC du fuzzing : ${echecs[*]}" >&2
    exit 1
  fi
fi

bilan_sautes
etape "Tous les tests sont passés ; durée totale : $(($(date +%s) - debut)) s"
