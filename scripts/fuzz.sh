#!/bin/sh
# Builds the libFuzzer targets (one per reader of outside input) with clang
# in build-fuzz/ and runs each for the given number of seconds, seeded from
# the sample tables under tests/data (and a few made-up journals, INI files,
# macro lines and archives). A crash leaves its input in
# build-fuzz/artifacts/<target>/; fix the fault and keep the input under
# tests/data/fuzz/<target>/, where every build's ctest replays it.
# Usage: scripts/fuzz.sh SECONDS [TARGET...]   Exit 1 when a target crashed.
# scripts/fuzz.sh --replay TARGET PROGRAM DIR seeds DIR afresh (with the
# kept inputs) and runs PROGRAM over it: every build's ctest replays each
# target's seeds and kept inputs so, without libFuzzer.
# FUZZ_JOBS builds with that many jobs and runs as many targets at once.
# FUZZ_KEEP_GOING=1 goes on after a crash (libFuzzer's fork mode), so a long
# run collects every crash it finds.
# The same build holds the headless layers' tests under AddressSanitizer and
# UndefinedBehaviorSanitizer (./test runs them there): configure it with
# scripts/fuzz.sh --configure.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build-fuzz"
DATA="$ROOT/tests/data"
ALL="fuzz_data_file fuzz_blob_file fuzz_primary_index fuzz_secondary_index fuzz_val_file
fuzz_journal fuzz_ini fuzz_macro_text fuzz_zip fuzz_table_set"
JOBS=${FUZZ_JOBS:-2}

# Optimised lightly and with line tables only: the tests and the fuzz runs
# keep their speed and their stack traces, the build takes half the time.
configure() {
  launcher=""
  command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
  # shellcheck disable=SC2086
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DVARDEX_FUZZ=ON -DVARDEX_WITH_GUI=OFF -DVARDEX_TESTS=SANITIZED \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" $launcher >/dev/null
}

# Every sample file whose name ends (in any case) with one of the patterns.
samples() {
  for pattern in "$@"; do find "$DATA" -path "$DATA/fuzz" -prune -o -type f -iname "$pattern" -print; done
}

# The multi-file form of FuzzInput.h: a marker and the extension before each
# further file.
append_part() {  # EXT FILE
  printf '\377\376%s\377' "$1"
  cat "$2"
}

seed() {  # TARGET CORPUS
  case $1 in
    fuzz_data_file)
      for db in $(samples '*.db'); do
        mb="${db%.*}.mb"; [ -f "$mb" ] || mb="${db%.*}.MB"
        if [ -f "$mb" ]; then
          { cat "$db"; printf '\377MB\377'; cat "$mb"; } >"$2/$(basename "$db").mb"
        fi
        cp "$db" "$2/"
      done ;;
    fuzz_blob_file) for f in $(samples '*.mb'); do cp "$f" "$2/"; done ;;
    fuzz_primary_index) for f in $(samples '*.px' '*.y[0-9g]?'); do cp "$f" "$2/"; done ;;
    fuzz_secondary_index)
      for x in $(samples '*.x[0-9g]?'); do
        ext=${x##*.}
        yext=$(printf '%s' "$ext" | sed 's/^x/y/; s/^X/Y/')
        y="${x%.*}.$yext"
        out="$2/$(basename "$x")"
        if [ -f "$y" ]; then { cat "$x"; append_part "$yext" "$y"; } >"$out"; else cp "$x" "$out"; fi
      done ;;
    fuzz_val_file) for f in $(samples '*.val'); do cp "$f" "$2/"; done ;;
    fuzz_journal)
      printf 'VARDEX-JOURNAL 1\nR\t/db/.T.DB.new~/T.DB\t/db/T.DB\nR\t/db/.T.DB.new~/T.PX\t/db/T.PX\nD\t/db/T.X02\nEND\n' >"$2/commit"
      printf 'VARDEX-JOURNAL 1\nEND\n' >"$2/empty"
      printf '/db/T.DB~\t/db/T.DB\n\t/db/T.VAL\n' >"$2/legacy" ;;
    fuzz_ini)
      cp "$ROOT/components/Language.ini" "$2/"
      printf '[DBDEMOS]\nTYPE=STANDARD\nPATH="/srv/my data"\n\n[SALES]\nPATH=/srv/sales\nDEFAULT DRIVER=PARADOX\n' >"$2/engine.ini"
      printf '[Drives]\nA=/media/floppy\nB=/media/usb;1457664\n' >"$2/drives.ini" ;;
    fuzz_macro_text)
      printf 'USETOOL(Verify)' >"$2/usetool"
      printf 'LASTTIME(Backup,12/8/2026 9:15:00 AM)' >"$2/lasttime"
      printf 'LASTTIME(Backup,08.12.26 09:15)' >"$2/lasttime-short"
      printf 'SELECTALIAS(DBDEMOS)' >"$2/alias"
      printf 'SETOPTIONS(,1,)' >"$2/options" ;;
    fuzz_zip)
      if command -v zip >/dev/null 2>&1; then
        (cd "$DATA/paradox-mtdemo" && zip -q -X "$2/mtdemo.zip" ./*)
        (cd "$DATA/paradox" && zip -q -X -0 -z "$2/stored.zip" FILMS.DB memo.db memo.mb </dev/null)
      fi ;;
    fuzz_table_set)
      for db in $(samples '*.db'); do
        stem="${db%.*}"
        out="$2/$(basename "$(dirname "$db")")-$(basename "$db")"
        {
          cat "$db"
          for f in "$stem".*; do
            ext=${f##*.}
            case $ext in db|DB) continue ;; esac
            append_part "$ext" "$f"
          done
        } >"$out"
      done ;;
  esac
}

# Seeds one target's corpus and fuzzes it; prints one line of figures, or
# the crash, once the run is over. Exit 1 on a crash.
run_one() {  # SECONDS TARGET
  target=$2
  corpus="$BUILD/corpus/$target"
  artifacts="$BUILD/artifacts/$target"
  log="$BUILD/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$BUILD/logs"
  seed "$target" "$corpus"
  [ -d "$DATA/fuzz/$target" ] && cp "$DATA/fuzz/$target"/* "$corpus/" 2>/dev/null || true
  # A run from no seed would pass without ever reading a real file.
  if [ -z "$(ls -A "$corpus")" ]; then
    echo "fuzz: no seed for $target (are the samples under $DATA?)" >&2
    return 1
  fi
  keep_going=""
  [ "${FUZZ_KEEP_GOING:-0}" = 1 ] && keep_going="-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1"
  # shellcheck disable=SC2086
  if "$BUILD/bin/$target" $keep_going -max_total_time="$1" -rss_limit_mb=2048 -timeout=20 \
    -max_len=262144 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    figures=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -1 || tail -1 "$log")
    echo "== $target, ${1}s: $figures"
    if [ -n "$keep_going" ] && ls "$artifacts" | grep -q '^crash-'; then
      echo "fuzz: crashes in $target (inputs in $artifacts)" >&2
      return 1
    fi
  else
    echo "== $target, ${1}s: $(grep -E '^#[0-9]+' "$log" | tail -1 || true)"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
    echo "fuzz: crash in $target (input in $artifacts, log in $log)" >&2
    return 1
  fi
}

case ${1:?usage: scripts/fuzz.sh SECONDS [TARGET...] | --configure} in
  --configure) configure; exit 0 ;;
  --one) run_one "$2" "$3"; exit $? ;;
  --replay)
    rm -rf "$4" && mkdir -p "$4"
    seed "$2" "$4"
    [ -d "$DATA/fuzz/$2" ] && cp "$DATA/fuzz/$2"/* "$4/"
    exec "$3" "$4" ;;
esac
SECONDS_EACH=$1
shift
TARGETS=${*:-$ALL}
configure
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "$JOBS" --target $TARGETS
# shellcheck disable=SC2086
printf '%s\n' $TARGETS | xargs -P "$JOBS" -I{} sh "$0" --one "$SECONDS_EACH" {} || exit 1
