#!/bin/sh
# Runs every libFuzzer target in BUILD_DIR for SECONDS each, starting from
# its committed seeds in fuzz/corpus/<target>/. New inputs go to a scratch
# corpus under BUILD_DIR, never into the repository. A crash, a time-out or
# the memory limit reached fails the run; the input is kept under
# BUILD_DIR/artifacts/.
#   tools/run-fuzzers.sh BUILD_DIR SECONDS
set -eu
build=$1
seconds=$2
mkdir -p "$build/artifacts"
status=0
found=0
for fuzzer in "$build"/*_fuzz; do
    [ -x "$fuzzer" ] || continue
    found=1
    name=$(basename "$fuzzer")
    scratch="$build/corpus/$name"
    mkdir -p "$scratch"
    seeds="fuzz/corpus/$name"
    [ -d "$seeds" ] || seeds=""
    echo "== $name: $seconds s"
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
            "$scratch" $seeds > "$build/$name.log" 2>&1; then
        echo "FUZZ: $name found a failure; see $build/$name.log and $build/artifacts/"
        tail -n 40 "$build/$name.log"
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/$name.log" || true
done
[ "$found" -eq 1 ] || { echo "FUZZ: no fuzz targets in $build"; exit 1; }
exit $status
