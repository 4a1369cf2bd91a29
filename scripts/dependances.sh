#!/usr/bin/env bash
# Installe, depuis les paquets Debian, ce qui manque pour construire et tester utireorg.
set -euo pipefail
paquets=(cmake ninja-build g++ pkg-config libsqlite3-dev nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev qt6-base-dev qt6-translations-l10n
  mdbtools-dev mdbtools clang libclang-rt-14-dev clang-format fonts-dejavu-core dpkg-dev file lintian)
manquants=()
for p in "${paquets[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || manquants+=("$p")
done
if [ ${#manquants[@]} -gt 0 ]; then
  echo "Installation des paquets manquants : ${manquants[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${manquants[@]}"
fi
