#!/usr/bin/env bash
# Construit les mesures de performance en Release, dans un dossier à part pour ne pas changer
# la configuration de build/, puis les lance ; les arguments sont passés à chaque mesure.
#   scripts/bench.sh --enregistrements 100000
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
"$racine/scripts/dependances.sh"
construction="${CONSTRUCTION_BENCH:-$racine/build-bench}"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUTIREORG_BENCH=ON -DUTIREORG_TESTS=OFF
cmake --build "$construction" -j "$(nproc)" --target benchs
mesures=(bench_lecture)  # bench_copie : cmake --build build-bench --target bench_copie
statut=0
for mesure in "${mesures[@]}"; do
  echo
  echo "== $mesure"
  "$construction/bench/$mesure" "$@" || statut=$?
done
exit "$statut"
