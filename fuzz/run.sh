#!/usr/bin/env bash
# Builds one fuzz target as a libFuzzer binary (clang-14 with address and undefined-behaviour
# sanitizers) and runs it for a chosen time.
#   fuzz/run.sh TARGET [SECONDS] [extra libFuzzer flags...]
#   fuzz/run.sh fuzz_lzfse 600
# Seeds come from tests/data/corpus/<name>/ (TARGET without "fuzz_"); what the fuzzer
# finds goes to build-fuzz/corpus/TARGET, crashes to build-fuzz/artifacts/TARGET/.
# Copy a crash input into the corpus folder once it is fixed, so ctest replays it.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KESTRELNOTE_FUZZ_BUILD_DIR:-$root/build-fuzz}
target=${1:?usage: fuzz/run.sh TARGET [SECONDS] [libFuzzer flags...]}
seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRELNOTE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target "$target" --parallel 2

seeds="$root/tests/data/corpus/${target#fuzz_}"
found="$build/corpus/$target"
artifacts="$build/artifacts/$target"
mkdir -p "$found" "$artifacts"
exec "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "$@" "$found" "$seeds"
