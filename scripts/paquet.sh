#!/usr/bin/env bash
# Construit le paquet Debian utireorg_<version>_amd64.deb : la construction ordinaire (sans les
# tests), puis « cpack -G DEB » dans le dossier de construction, où le paquet est écrit.
#   CONSTRUCTION=DOSSIER   dossier de construction (build par défaut)
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
"$racine/scripts/dependances.sh"
construction="${CONSTRUCTION:-$racine/build}"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$construction" -j "$(nproc)" --target utireorg utireorg-lot utireorg-base hlp fichiers_paquet
(cd "$construction" && cpack -G DEB)
ls "$construction"/utireorg_*_amd64.deb
