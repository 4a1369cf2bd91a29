#!/usr/bin/env bash
# Mise en forme du code C++ selon .clang-format, sans jamais reprendre tout l'arbre d'un coup :
# seules les lignes changées depuis une base, et les fichiers de scripts/format-suivis.txt (déjà en
# forme, et qui doivent le rester en entier), sont concernés.
#   scripts/format.sh [BASE]              met ces lignes et ces fichiers en forme
#   scripts/format.sh --verifier [BASE]   ne change rien ; code 1 et les différences s'il en reste
# BASE : un commit ; par défaut, le point où la branche courante a quitté main (sur main même, il
# ne reste que les changements pas encore validés).
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
cd "$racine"

verifier=0
if [ "${1:-}" = "--verifier" ]; then
  verifier=1
  shift
fi
if [ $# -gt 1 ] || [[ "${1:-}" == -* ]]; then
  echo "Usage : $0 [--verifier] [BASE]" >&2
  exit 2
fi

if ! command -v clang-format > /dev/null || ! command -v git-clang-format > /dev/null; then
  "$racine/scripts/dependances.sh"
fi

if ! git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  base=""  # an archive, not a clone: only the files kept whole in shape
elif [ $# -eq 1 ]; then
  base="$1"
elif git rev-parse --verify -q main > /dev/null; then
  base="$(git merge-base HEAD main)"
else
  base=HEAD
fi

extensions=cpp,h
mapfile -t suivis < <(grep -v '^\s*\(#\|$\)' scripts/format-suivis.txt)
echecs=0

# The lines changed since the base, in every C++ file.
if [ -z "$base" ]; then
  :
elif [ "$verifier" = 1 ]; then
  # Quiet, git clang-format prints nothing but the differences (its exit code does not tell).
  sortie="$(git clang-format --extensions "$extensions" --quiet --diff "$base")"
  if [ -n "$sortie" ]; then
    echo "Lignes changées depuis ${base:0:12} qui ne sont pas en forme :"
    echo "$sortie"
    echecs=1
  fi
else
  git clang-format --extensions "$extensions" --force --quiet "$base" || true
fi

# The files kept whole in shape.
for fichier in "${suivis[@]}"; do
  [ -f "$fichier" ] || { echo "scripts/format-suivis.txt cite un fichier absent : $fichier" >&2; exit 2; }
  if [ "$verifier" = 1 ]; then
    if ! clang-format --style=file "$fichier" | diff -u --label "$fichier" --label "$fichier (en forme)" "$fichier" -; then
      echecs=1
    fi
  else
    clang-format --style=file -i "$fichier"
  fi
done

if [ "$echecs" = 1 ]; then
  echo "Mise en forme à reprendre : lancer scripts/format.sh${1:+ $1}." >&2
  exit 1
fi
