#!/usr/bin/env bash
# Mesures de performance, jamais lancées par les tests. Construit les programmes de mesure en
# Release, dans un dossier à part pour ne pas changer la configuration de build/, génère deux jeux
# de bases (T tables de R/10 puis de R enregistrements), mesure chaque étape de la réorganisation à
# côté de SQLite seul, puis la réorganisation complète et sa mémoire sur les deux jeux, la lecture
# et la copie d'une seule table, et termine par le bilan face aux objectifs.
#   scripts/bench.sh [--tables T] [--enregistrements R] [--essais N] [--garder]
# Code de sortie : 0 quand tous les objectifs sont atteints, 1 sinon, 2 quand une mesure échoue.
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"

tables=20
enregistrements=50000
essais=3
garder=0
while [ $# -gt 0 ]; do
  case "$1" in
    --tables) tables="$2"; shift 2 ;;
    --enregistrements) enregistrements="$2"; shift 2 ;;
    --essais) essais="$2"; shift 2 ;;
    --garder) garder=1; shift ;;
    -h|--help|--aide) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh : option inconnue « $1 »" >&2; exit 2 ;;
  esac
done
if [ "$enregistrements" -lt 10 ]; then
  echo "bench.sh : au moins 10 enregistrements par table" >&2
  exit 2
fi

"$racine/scripts/dependances.sh"
construction="${CONSTRUCTION_BENCH:-$racine/build-bench}"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUTIREORG_BENCH=ON -DUTIREORG_TESTS=OFF
cmake --build "$construction" -j "$(nproc)" --target benchs
programmes="$construction/bench"

# Les jeux pèsent quelques centaines de Mo : ils disparaissent à la fin, sauf avec --garder.
jeux="${DOSSIER_BENCH:-$construction/jeux}"
rm -rf "$jeux"
mkdir -p "$jeux"
if [ "$garder" -eq 0 ]; then
  trap 'rm -rf "$jeux"' EXIT
fi
conserver=()
if [ "$garder" -eq 1 ]; then conserver=(--garder); fi

titre() { printf '\n== %s\n' "$1"; }

titre "Jeu de $tables × $((enregistrements / 10)) enregistrements : réorganisation complète et mémoire"
"$programmes/bench_reorg" generer "$jeux/petit" --tables "$tables" --enregistrements "$((enregistrements / 10))"
"$programmes/bench_reorg" complet "$jeux/petit" "${conserver[@]}"

titre "Jeu de $tables × $enregistrements enregistrements : chaque étape, puis la réorganisation complète"
"$programmes/bench_reorg" generer "$jeux/grand" --tables "$tables" --enregistrements "$enregistrements"
"$programmes/bench_reorg" etapes "$jeux/grand" --essais "$essais" "${conserver[@]}"
"$programmes/bench_reorg" complet "$jeux/grand" "${conserver[@]}"

total=$((tables * enregistrements))
titre "Lecture d'une table par le moteur"
"$programmes/bench_lecture" --enregistrements "$total" --essais "$essais"
titre "Copie groupée d'une table"
"$programmes/bench_copie" --enregistrements "$total"

# La conversion des fichiers Jet se mesure quand son programme se construit.
if cmake --build "$construction" -j "$(nproc)" --target bench_jet >/dev/null 2>&1; then
  titre "Conversion des fichiers Jet"
  "$programmes/bench_jet" || echo "bench.sh : la mesure de la conversion Jet a échoué" >&2
fi

titre "Sauvetage d'une base aux pages écrasées, par motif de dommage"
sauvetage=0
"$programmes/bench_sauvetage" || sauvetage=$?

titre "Bilan"
statut=0
"$programmes/bench_reorg" bilan "$jeux/petit" "$jeux/grand" || statut=$?
if [ "$sauvetage" -ne 0 ] && [ "$statut" -eq 0 ]; then statut=1; fi
if [ "$garder" -eq 1 ]; then echo "Jeux conservés dans $jeux"; fi
exit "$statut"
