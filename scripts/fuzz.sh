#!/bin/sh
# Builds the libFuzzer targets of the Paradox readers with clang in
# build-fuzz/ and runs each for half of the given number of seconds, seeded
# with the sample tables kept in tests/data/paradox.
set -eu
SECONDS_TOTAL=${1:?usage: scripts/fuzz.sh SECONDS}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build-fuzz"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DVARDEX_FUZZ=ON -DVARDEX_WITH_GUI=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target fuzz_data_file fuzz_blob_file
PER_TARGET=$((SECONDS_TOTAL / 2))
[ "$PER_TARGET" -ge 1 ] || PER_TARGET=1
for target in fuzz_data_file fuzz_blob_file; do
  corpus="$BUILD/corpus-$target"
  mkdir -p "$corpus"
  case $target in
    fuzz_data_file) find "$ROOT/tests/data/paradox" -iname '*.db' -exec cp {} "$corpus" \; ;;
    fuzz_blob_file) find "$ROOT/tests/data/paradox" -iname '*.mb' -exec cp {} "$corpus" \; ;;
  esac
  echo "== $target for ${PER_TARGET}s"
  "$BUILD/bin/$target" -max_total_time="$PER_TARGET" -rss_limit_mb=1024 -timeout=10 \
    -artifact_prefix="$BUILD/$target-" "$corpus"
done
