#!/usr/bin/env bash
# cmake --install into a scratch prefix, then check the installed tree.
#
#   check_install.sh CMAKE BUILD_DIR STAGE STAGED_DATA_DIR SOURCE_DIR TABLE_PROBE HELP_PROBE VERSION
set -uo pipefail

cmake=$1 build=$2 stage=$3 datadir=$4 src=$5 probe=$6 help_probe=$7 version=$8
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$stage"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! "$cmake" --install "$build" --prefix "$stage" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

# Every installed file lies under the prefix given on the command line (a
# destination that is absolute ignores --prefix, and so would a package).
while read -r f; do
  [[ "$f" == "$stage"/* ]] || fail "installed outside the prefix: $f"
done <"$build/install_manifest.txt"

for p in pmservice pmsim pmctl; do
  [[ -x "$stage/bin/$p" ]] || fail "bin/$p missing or not executable"
done

# The reference tables, each identical to its source.
tables=()
for t in "$src"/data/*.txt; do
  [[ "$(basename "$t")" == CMakeLists.txt ]] || tables+=("$t")
done
((${#tables[@]} >= 8)) || fail "fewer than eight tables in $src/data"
for t in "${tables[@]}"; do
  cmp -s "$t" "$datadir/$(basename "$t")" || fail "table $(basename "$t") missing or different in $datadir"
done

# The menu entry: valid, starting an installed program, with an icon that is
# installed and is an SVG document, named as the main window is titled.
desktop="$stage/share/applications/pmservice.desktop"
if [[ ! -f "$desktop" ]]; then
  fail "share/applications/pmservice.desktop missing"
else
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
  fi
  key() { sed -n "s/^$1=//p" "$desktop" | head -n1; }
  exec_prog=$(key Exec | cut -d' ' -f1)
  [[ -n "$exec_prog" && -x "$stage/bin/$exec_prog" ]] || fail "Exec=$exec_prog is not an installed program"
  icon="$stage/share/icons/hicolor/scalable/apps/$(key Icon).svg"
  if [[ ! -f "$icon" ]]; then
    fail "icon $(key Icon) not installed as $icon"
  else
    python3 -c 'import sys, xml.etree.ElementTree as E
sys.exit(0 if E.parse(sys.argv[1]).getroot().tag == "{http://www.w3.org/2000/svg}svg" else 1)' "$icon" ||
      fail "icon is not an SVG document"
  fi
  title=$(python3 -c 'import sys, xml.etree.ElementTree as E
w = E.parse(sys.argv[1]).getroot().find("widget")
print(next(p.find("string").text for p in w.findall("property") if p.get("name") == "windowTitle"))' \
    "$src/ui/Obr_pm.ui")
  [[ "$(key Name)" == "$title" ]] || fail "Name=$(key Name) is not the window title '$title'"
  [[ "$(key Terminal)" == "false" ]] || fail "the entry would open a terminal"
fi

# The installed programs need nothing from the build tree.
for p in pmservice pmsim pmctl; do
  [[ -x "$stage/bin/$p" ]] || continue
  if ldd "$stage/bin/$p" | grep -q "not found"; then
    fail "bin/$p: unresolved libraries"
    ldd "$stage/bin/$p" | grep "not found"
  fi
  if readelf -d "$stage/bin/$p" | grep -E "R(UN)?PATH" | grep -qF "$build"; then
    fail "bin/$p keeps a run path into the build tree"
  fi
done

# Started from an empty folder elsewhere on the offscreen platform, the
# installed program comes up and is still running a second later (a crash,
# a sanitizer report or a missing plugin ends it earlier).
elsewhere="$scratch/elsewhere"
mkdir -p "$elsewhere"
if [[ -x "$stage/bin/pmservice" ]]; then
  (cd "$elsewhere" && QT_QPA_PLATFORM=offscreen timeout -k 3 1.5 "$stage/bin/pmservice") \
    >"$scratch/run.log" 2>&1
  rc=$?
  if ((rc != 124)); then
    fail "installed pmservice ended by itself (exit $rc) instead of running"
    cat "$scratch/run.log"
  fi
fi

# The range dialog's table lookup, from that folder, finds the tables in the
# data folder of the prefix.
if count=$(cd "$elsewhere" && "$probe" Pt100); then
  ((count >= 4)) || fail "Pt100 table loaded with $count entries"
else
  fail "Pt100 table not found from another folder"
fi

# The command-line program gives the same version as the window.
if [[ -x "$stage/bin/pmctl" ]]; then
  [[ "$("$stage/bin/pmctl" --version)" == "pmctl $version" ]] || fail "pmctl --version is not $version"
fi

# The user's guide: the page, its source and every picture it shows.
docdir="$stage/share/doc/pmservice"
guide="$docdir/guide.ru.html"
cmp -s "$src/docs/guide.ru.md" "$docdir/guide.ru.md" || fail "guide.ru.md missing or different in $docdir"
cmp -s "$src/docs/settings-file.md" "$docdir/settings-file.md" || fail "settings-file.md missing or different in $docdir"
cmp -s "$src/docs/team-server.sql" "$docdir/team-server.sql" || fail "team-server.sql missing or different in $docdir"
if [[ -f "$guide" ]]; then
  while read -r img; do
    [[ -f "$docdir/$img" ]] || fail "the guide shows $img, not installed"
  done < <(grep -o '<img src="[^"]*"' "$guide" | sed 's/<img src="//; s/"$//')
  python3 -c 'import re, sys
page = open(sys.argv[1], encoding="utf-8").read()
ids = set(re.findall(r"id=\"([^\"]+)\"", page))
lost = [h for h in re.findall(r"href=\"#([^\"]+)\"", page) if h not in ids]
print("\n".join("no section #" + h for h in lost))
sys.exit(1 if lost else 0)' "$guide" || fail "the guide links to sections it does not have"
else
  fail "guide.ru.html not installed in $docdir"
fi

# The Help menu, from another folder: the guide found beside the installed
# program, and the "about" box with the version and the prefix's tables.
if help=$(cd "$elsewhere" && "$help_probe" "$stage/bin" "$datadir" 2>&1); then
  grep -qxF "guide: $guide" <<<"$help" || fail "the help window does not show $guide"
  grep -qxF "browser: $guide" <<<"$help" || fail "the help window does not hand $guide to the browser"
  grep -qxF "Версия $version" <<<"$help" || fail "the about box does not give version $version"
  grep -qxF "Таблицы датчиков: $datadir" <<<"$help" || fail "the about box does not name $datadir"
  grep -q "Предупреждение" <<<"$help" && fail "the Help menu warned"
else
  fail "help_probe failed"
fi
echo "${help:-}"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install into $stage: all checks passed"
