#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: the installed programs answer
# --help and --version without a display, the first start makes the user's
# program folder under $XDG_CONFIG_HOME with the language files, `vdx aliases`
# reads the configuration there, the menu entry passes desktop-file-validate,
# the manual pages render without warnings, the metainfo validates, and the
# installed completion answers.
set -euo pipefail
build=$1
language=$2
tmp=$(mktemp -d)
pid=
cleanup() {
  if [[ -n $pid ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# A "%" in the prefix must be doubled in the entry's Exec= line.
prefix=$tmp/100%prefix
config=$tmp/config
mkdir -m 700 "$tmp/runtime"
cmake --install "$build" --prefix "$prefix" >/dev/null
unset VARDEX_HOME VARDEX_ENGINE_CONFIG DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$tmp/runtime

# Program       switch      what the answer holds
while read -r program switch expected; do
  out=$("$prefix/bin/$program" "$switch" 2>&1) || fail "$program $switch failed: $out"
  [[ $out == *"$expected"* ]] || fail "$program $switch: $out"
done <<'CASES'
Vdx32 --version Vdx32 (Vardex) 1.
Vdx32 --help    MACROSERVER
vdx   --version vdx (Vardex) 1.
CASES
out=$("$prefix/bin/Vdx32" 2>&1) && fail "Vdx32 started without a display"
[[ $out == *"xvfb-run"* ]] || fail "no advice without a display: $out"
[[ ! -e $config ]] || fail "the user's folder was made by a start that did not happen"

# The first start makes the folder, copies the language file and opens the
# tool log there.
QT_QPA_PLATFORM=offscreen "$prefix/bin/Vdx32" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do
  [[ -e $config/vardex/VdxLog.db ]] && break
  sleep 0.1
done
[[ -e $config/vardex/VdxLog.db ]] || fail "no tool log in $config/vardex"
cmp -s "$language" "$config/vardex/Language.ini" || fail "language file not copied"
cmp -s "${language%.ini}.de.ini" "$config/vardex/Language.de.ini" || fail "German file not copied"
[[ $(ls "$prefix/bin") == $'Vdx32\nvdx' ]] || fail "files written beside the installed program"

printf '[SALES]\nTYPE=STANDARD\nPATH=/srv/sales/\n' >"$config/vardex/engine.ini"
out=$("$prefix/bin/vdx" aliases) || fail "vdx aliases failed"
[[ $out == $'SALES\tSTANDARD\t/srv/sales/' ]] || fail "vdx aliases: $out"

entry=$prefix/share/applications/vardex.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate"
grep -qxF "Exec=\"${prefix//%/%%}/bin/Vdx32\"" "$entry" || fail "the entry does not start the installed program"
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -f $prefix/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "icon $icon missing"
for page in vdx Vdx32; do
  manual=$prefix/share/man/man1/$page.1
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null) ||
    fail "man -l $manual"
  [[ -z $warnings ]] || fail "$page(1) renders with warnings: $warnings"
done
# Every command and flag that vdx --help names is in the manual.
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$prefix/share/man/man1/vdx.1" 2>/dev/null)
for word in $("$prefix/bin/vdx" --help | grep -oE '^  vdx [a-z-]+|--[a-z-]+' | sed 's/^  vdx //'); do
  [[ $text == *"$word"* ]] || fail "vdx(1) does not mention $word"
done
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$prefix/share/man/man1/Vdx32.1" 2>/dev/null)
for word in $("$prefix/bin/Vdx32" --help | grep -oE -- ' (-?[A-Z]{4,}|--[a-z]+)' ); do
  [[ $text == *"$word"* ]] || fail "Vdx32(1) does not mention $word"
done
metainfo=$(ls "$prefix"/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "appstreamcli validate $metainfo"

# Completion answers, from the installed script, with the installed vdx.
complete_line() {
  bash --norc -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    [[ ${COMP_WORDS[0]} == */Vdx32 ]] && _Vdx32 || _vdx
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd" "' \
    _ "$prefix/share/bash-completion/completions/vdx" "$@"
}
mkdir "$tmp/tables" "$tmp/tables/SUB"
touch "$tmp/tables/CUSTOMER.DB" "$tmp/tables/orders.db" "$tmp/tables/CUSTOMER.PX"
cd "$tmp/tables"
vdx=$prefix/bin/vdx
# Words (| between them)            the answers
while IFS='|' read -r words expected; do
  read -ra line <<<"$words"
  line[0]=${line[0]/vdx/$vdx}
  line[0]=${line[0]/Vdx32/$prefix/bin/Vdx32}
  [[ $words == *' ' ]] && line+=("")
  got=$(complete_line "${line[@]}")
  [[ $got == "$expected" ]] || fail "completion of '$words': '$got', not '$expected'"
done <<'CASES'
vdx re|repair restructure
vdx --v|--version
vdx export x --|--delimiter --force --no-header --password --to
vdx export x --to s|sqlite
vdx verify |CUSTOMER.DB SUB/ orders.db
vdx info o|orders.db
vdx macro 'USEd|USEDAILY( USEDAILY()
vdx macro 'USETOOL(Pa|USETOOL(Pack USETOOL(Pack)
vdx macro 'USETOOL(|USETOOL(Backup USETOOL(Copy USETOOL(Pack USETOOL(Restore USETOOL(Retrieve USETOOL(SALES USETOOL(Update
vdx macro 'USEDAILY(Copy,sa|USEDAILY(Copy,SALES USEDAILY(Copy,SALES)
Vdx32 S|SALES
Vdx32 sales -|-B -C -P -R -T -U
Vdx32 MACROSERVER |
CASES
echo "ok"
