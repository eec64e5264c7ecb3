#!/usr/bin/env bash
# ./run installs and builds before it looks for a display, and without one
# starts the program under xvfb-run. apt-get, dpkg-query, cmake and xvfb-run
# are stand-ins that write what they were asked into a log.
set -euo pipefail
source_dir=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fake=$tmp/fakebin
build=$tmp/build
log=$tmp/log
mkdir -p "$fake" "$build/bin"

stub() {  # stub NAME BODY: a command on PATH that logs its call, then runs BODY
  printf '#!/usr/bin/env bash\necho "%s $*" >>"%s"\n%s\n' "$1" "$log" "$2" >"$fake/$1"
  chmod +x "$fake/$1"
}
stub dpkg-query 'exit 1'  # nothing is installed
stub apt-get ''
stub sudo 'exec "$@"'
stub cmake ''
stub xvfb-run 'while [[ $1 == -* ]]; do [[ $1 == -s ]] && shift; shift; done
DISPLAY=:99 XAUTHORITY=/nonexistent exec "$@"'
printf '#!/usr/bin/env bash\necho "Vdx32 on display $DISPLAY home $VARDEX_HOME: $*" >>"%s"\n' \
  "$log" >"$build/bin/Vdx32"
printf '#!/usr/bin/env bash\n' >"$build/bin/vdx"
chmod +x "$build/bin/Vdx32" "$build/bin/vdx"
echo "[Notifications]" >"$build/bin/Language.ini"

fail() { echo "FAIL: $*"; echo "--- log:"; cat "$log"; echo "--- output:"; cat "$tmp/out"; exit 1; }
# line_of PATTERN: the number of the first log line matching PATTERN.
line_of() { grep -n -m1 -e "$1" "$log" | cut -d: -f1; }

# Display           what must start Vdx32
for display in "" ":5"; do
  : >"$log"
  rm -rf "$tmp/home"
  env -u WAYLAND_DISPLAY DISPLAY="$display" PATH="$fake:$PATH" VARDEX_BUILD_DIR="$build" \
    VARDEX_HOME="$tmp/home" "$source_dir/run" DEMO -U >"$tmp/out" 2>&1 || fail "./run failed"
  install=$(line_of '^apt-get install') update=$(line_of '^apt-get update')
  configure=$(line_of '^cmake -S') compile=$(line_of '^cmake --build')
  started=$(line_of '^Vdx32 ')
  [[ -n $update && -n $install && -n $configure && -n $compile && -n $started ]] ||
    fail "a step is missing (display '$display')"
  ((update < install && install < configure && configure < compile && compile < started)) ||
    fail "steps out of order (display '$display')"
  grep -q "^apt-get install.* xvfb" "$log" || fail "xvfb is not among the packages"
  grep -q "home $tmp/home: DEMO -U$" "$log" || fail "Vdx32 got other arguments or another home"
  [[ -f $tmp/home/engine.ini && -f $tmp/home/Language.ini ]] || fail "demo folder not made"
  if [[ -z $display ]]; then
    xvfb=$(line_of '^xvfb-run ')
    [[ -n $xvfb ]] && ((compile < xvfb && xvfb < started)) || fail "not started under xvfb-run"
    grep -q "on display :99 " "$log" || fail "Vdx32 did not get the virtual display"
    grep -q "virtual display" "$tmp/out" || fail "./run does not say it uses a virtual display"
    grep -q "DISPLAY=:99 XAUTHORITY=/nonexistent .*grabscreen" "$tmp/out" ||
      fail "./run does not say how to reach the virtual display"
  else
    grep -q '^xvfb-run' "$log" && fail "xvfb-run used although there is a display"
    grep -q "on display :5 " "$log" || fail "Vdx32 did not get the display"
  fi
done
echo "ok"
