#!/usr/bin/env bash
# Screenshots of the main window after a read of each model (docs/screenshots/
# <model>.png), of the trend after a minute of polling (trend.png), of the
# range dialog with its deviation plot (range.png) and those of the user's
# guide (guide-*.png, the printed check record through pdftoppm), taken on an
# X server of its own (Xvfb) so that the real fonts and style are used; and
# the wiring pictures (wiring-*.png), drawn.  Installs Xvfb and poppler-utils
# if missing and builds pm_shots in build-shots.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

missing=()
for p in xvfb xauth poppler-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD=${PM_SHOTS_BUILD:-build-shots}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPM_BUILD_TESTS=OFF -DPM_BUILD_BENCH=OFF \
  -DPM_SUBDIRS="ui;link;device;ops;settings;journal;line;trend;range;verify;sim;devicelist;access;app;data;tools" >/dev/null
cmake --build "$BUILD" -j"$(( $(nproc) < 2 ? $(nproc) : 2 ))" --target pm_shots

# A fixed screen, no desktop theme and the time zone of the pictures' bench:
# they depend on the code only.
env -u QT_QPA_PLATFORM -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE TZ=Europe/Moscow \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  "$BUILD/tools/pm_shots" docs/screenshots
ls -l docs/screenshots
