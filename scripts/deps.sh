#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need, if missing.
# Ninja drives the builds and mold links them.
# With --test also the compiler and runtime of the fuzz targets, and ser2net
# for the tests of lines behind a network gateway, and pdftotext for the
# test of the printed change record, and PostgreSQL for the tests of the
# team's journal server (they start a private server of their own).
set -euo pipefail

PKGS=(cmake g++ make ninja-build mold qt6-base-dev qt6-base-dev-tools libgl-dev libgtest-dev nlohmann-json3-dev libsqlite3-dev libpq-dev python3 libmd4c-dev libmd4c-html0-dev qt6-translations-l10n)
if [[ "${1:-}" == "--test" ]]; then
  PKGS+=(clang-14 libclang-rt-14-dev ser2net poppler-utils postgresql)
fi

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
