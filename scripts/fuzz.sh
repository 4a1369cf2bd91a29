#!/usr/bin/env bash
# Fuzzing d'une cible pendant le temps demandé.
#   scripts/fuzz.sh CIBLE [SECONDES]   CIBLE : balisage, boutons, touches, dialecte, base, jet
#   scripts/fuzz.sh --construire       construit seulement les cibles
# SECONDES : 60 par défaut (ou UTIREORG_FUZZ_SECONDES) ; 0 : jusqu'à l'arrêt par Ctrl-C.
# Construction avec clang dans ${CONSTRUCTION:-build}-fuzz (ou CONSTRUCTION_FUZZ). Le corpus
# grandit d'un lancement à l'autre dans <construction>/corpus/CIBLE ; une entrée qui fait tomber
# la cible est écrite dans <construction>/trouvailles/CIBLE/ : la placer dans
# tests/fuzz/regressions/CIBLE/ en fait un test de non-régression, rejoué par tests_fuzz.
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
cibles=(balisage boutons touches dialecte base jet)
fuzz="${CONSTRUCTION_FUZZ:-${CONSTRUCTION:-$racine/build}-fuzz}"

construit() {
  mkdir -p "$fuzz"
  CC=clang CXX=clang++ cmake -S "$racine" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DUTIREORG_FUZZ=ON > "$fuzz/configuration.log" 2>&1 || { cat "$fuzz/configuration.log"; exit 1; }
  cmake --build "$fuzz" -j "$(nproc)" --target "${cibles[@]/#/fuzz_}"
}

usage() {
  echo "Usage : $0 CIBLE [SECONDES] | --construire   (cibles : ${cibles[*]})" >&2
  exit 2
}

[ $# -ge 1 ] || usage
if [ "$1" = "--construire" ]; then
  construit
  exit 0
fi
cible="$1"
secondes="${2:-${UTIREORG_FUZZ_SECONDES:-60}}"
[[ " ${cibles[*]} " == *" $cible "* ]] || usage
[[ "$secondes" =~ ^[0-9]+$ ]] || usage

# tests.sh construit une seule fois avant de lancer plusieurs cibles en même temps.
if [ "${UTIREORG_FUZZ_CONSTRUIT:-0}" != 1 ]; then
  construit
fi

corpus="$fuzz/corpus/$cible"
trouvailles="$fuzz/trouvailles/$cible"
mkdir -p "$corpus" "$trouvailles"
sources=("$corpus")
for d in "$racine/tests/fuzz/graines/$cible" "$racine/tests/fuzz/regressions/$cible"; do
  [ -d "$d" ] && sources+=("$d")
done
options=(-max_total_time="$secondes" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1
  -artifact_prefix="$trouvailles/")
dictionnaire="$racine/tests/fuzz/dictionnaires/$cible.dict"
[ -f "$dictionnaire" ] && options+=(-dict="$dictionnaire")

# Les rapports des sanitizers vont dans des fichiers : un processus fils (la lecture des fichiers
# Jet) n'a pas de sortie d'erreur visible, et sa faute ne ferait pas tomber la cible.
rapports="$fuzz/rapports/$cible"
rm -rf "$rapports"
mkdir -p "$rapports"
export ASAN_OPTIONS="log_path=$rapports/asan${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$rapports/ubsan${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# Le dossier temporaire en mémoire épargne au disque les écritures de chaque essai.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
if [ "$cible" = jet ]; then
  echantillons=""
  for d in "${UTIREORG_ECHANTILLONS_JET:-}" "$racine/../shared/jet-samples"; do
    if [ -n "$d" ] && [ -d "$d" ]; then echantillons="$d"; break; fi
  done
  if [ -z "$echantillons" ]; then
    echo "Attention : aucun échantillon Jet trouvé (UTIREORG_ECHANTILLONS_JET, ../shared/jet-samples) :" \
      "la cible « jet » part d'entrées vides et n'atteint guère la lecture." >&2
  else
    export UTIREORG_ECHANTILLONS_JET="$echantillons"
  fi
fi
journal="$fuzz/fuzz-$cible.log"
echo "Fuzzing de « $cible » pendant ${secondes} s (journal : $journal)"
code=0
"$fuzz/tests/fuzz/fuzz_$cible" "${options[@]}" "${sources[@]}" > "$journal" 2>&1 || code=$?
executions=$(grep -o '^stat::number_of_executed_units: *[0-9]*' "$journal" | grep -o '[0-9]*$' || true)
couverture=$(grep -o 'cov: [0-9]*' "$journal" | tail -1 || true)

# Un rapport dont la première trace dans du code connu est dans libmdb vient d'une lecture Jet
# que le processus fils contient par conception (la base est déclarée endommagée) ; tout autre
# rapport est une faute du projet.
contenus=0
fautes=()
for rapport in "$rapports"/*; do
  [ -f "$rapport" ] || continue
  origine=$(grep -E '^ +#[0-9]+ ' "$rapport" | grep -m1 -oE "libmdb|$racine/(src|tools|tests)/" || true)
  if [ "$origine" = "libmdb" ] && ! grep -q "runtime error" "$rapport"; then
    contenus=$((contenus + 1))
  else
    fautes+=("$rapport")
  fi
done
if [ "$code" -ne 0 ] || [ ${#fautes[@]} -gt 0 ]; then
  tail -n 60 "$journal"
  for rapport in "${fautes[@]}"; do
    echo "---- $rapport"
    head -n 60 "$rapport"
  done
  echo "ÉCHEC du fuzzing de « $cible » (code $code) : l'entrée fautive est dans $trouvailles/." >&2
  echo "Corriger la faute, puis copier l'entrée dans tests/fuzz/regressions/$cible/." >&2
  exit 1
fi
bilan="Fuzzing de « $cible » : ${executions:-?} exécutions en ${secondes} s, ${couverture:-cov: ?}, aucune faute"
if [ "$contenus" -gt 0 ]; then
  bilan+=" ($contenus arrêts de libmdb contenus par le processus de lecture ; entrées dans $trouvailles/)"
fi
echo "$bilan."
