#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang and libFuzzer (build/fuzz, only the targets
# and the libraries they need) and fuzzes one target or all of them, one per core at a time.
#   tools/fuzz.sh [target|all] [seconds]      (default: all, 60 seconds each)
# Targets: tlv_frame json_config iam_request com_frame discovery_entry rules_file.
# The repository's corpus (tests/fuzz/corpus/<target>) seeds each run and is not written to;
# new inputs go to build/fuzz/corpus/<target>, findings to build/fuzz/findings/<target>.
# Exits non-zero on a finding and names the file that holds the input.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
choice=${1:-all}
seconds=${2:-60}
build="$root/build/fuzz"

targets=(tlv_frame json_config iam_request com_frame discovery_entry rules_file)
# Longest input per target: what one request or file can sensibly be. The configuration stays
# short so that nesting depth does not dominate; a session hands the IAM decoder at most 1023
# bytes; a discovery entry over 4 KiB is refused, so a little more than that.
declare -A max_len=(
    [tlv_frame]=4096
    [json_config]=4096
    [iam_request]=1023
    [com_frame]=4096
    [discovery_entry]=4200
    [rules_file]=4096
)

if [ "$choice" != all ] && [ -z "${max_len[$choice]+set}" ]; then
    echo "fuzz: unknown target '$choice' (${targets[*]} or all)" >&2
    exit 2
fi
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "fuzz: seconds must be a positive whole number, not '$seconds'" >&2
    exit 2
fi
[ "$choice" = all ] || targets=("$choice")

CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARN1_FUZZ=ON -DTARN1_BUILD_TESTS=OFF -DTARN1_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="abort_on_error=1 detect_leaks=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"

# Each libFuzzer run uses one core: as many targets run side by side as there are cores, each for
# its full time.
fuzz_one() # <target>
{
    local target=$1
    local scratch="$build/corpus/$target" findings="$build/findings/$target"
    mkdir -p "$scratch" "$findings"
    local options=(-max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=2048
                   -print_final_stats=1 -artifact_prefix="$findings/")
    if [ -f "$root/tests/fuzz/dict/$target.dict" ]; then
        options+=(-dict="$root/tests/fuzz/dict/$target.dict")
    fi
    # The first corpus folder takes the new inputs; the repository's seeds are only read.
    local status=0
    "$build/tests/fuzz/fuzz_$target" "${options[@]}" "$scratch" "$root/tests/fuzz/corpus/$target" \
        >"$build/$target.log" 2>&1 || status=$?
    echo "$status" >"$build/$target.status"
}

echo "fuzz: ${targets[*]} for $seconds s each, $(nproc) at a time"
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do
        wait -n || true
    done
    fuzz_one "$target" &
done
wait

status=0
for target in "${targets[@]}"; do
    log="$build/$target.log"
    findings="$build/findings/$target"
    echo "fuzz: $target"
    if [ "$(cat "$build/$target.status")" = 0 ]; then
        # The last status line (coverage, corpus size) and the totals.
        grep -E '^#[0-9]+' "$log" | tail -n 1 || true
        grep -E '^(Done |stat::number_of_executed_units|stat::new_units_added)' "$log" || true
    else
        status=1
        tail -n 40 "$log" >&2
        found=$(ls -t "$findings" 2>/dev/null | head -n 1)
        echo "fuzz: FINDING in $target; input written to $findings/${found:-?}" >&2
        echo "fuzz: replay it with $build/tests/fuzz/fuzz_$target $findings/${found:-<file>}; full log $log" >&2
    fi
done
exit "$status"
