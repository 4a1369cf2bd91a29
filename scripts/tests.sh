#!/usr/bin/env bash
# Construit utireorg et lance tous les tests.
set -euo pipefail
racine="$(cd "$(dirname "$0")/.." && pwd)"
"$racine/scripts/dependances.sh"
construction="${CONSTRUCTION:-$racine/build}"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$construction" -j "$(nproc)"
cd "$construction"
ctest --output-on-failure -j "$(nproc)" --timeout 900
