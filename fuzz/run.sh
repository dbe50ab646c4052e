#!/usr/bin/env bash
# Runs every built fuzzer for the given number of seconds, starting from its committed seed corpus.
# New inputs go to a scratch corpus in the build folder, crashes to <build>/fuzz/artifacts/.
# Usage: fuzz/run.sh <build dir> <seconds per target> [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in fuzz/fuzz_*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi
mkdir -p "$build/fuzz/artifacts"
status=0
for target in "${targets[@]}"; do
    seeds="fuzz/corpus/$target"
    scratch="$build/fuzz/corpus/$target"
    mkdir -p "$scratch" "$seeds"
    echo "== $target: ${seconds}s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz/artifacts/$target-" "$scratch" "$seeds" 2>"$build/fuzz/$target.log"; then
        tail -n 60 "$build/fuzz/$target.log"
        echo "== $target FAILED (log: $build/fuzz/$target.log)"
        status=1
    else
        grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/fuzz/$target.log" | tr '\n' ' '
        echo
    fi
done
exit $status
