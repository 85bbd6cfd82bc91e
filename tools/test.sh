#!/usr/bin/env bash
# Sets up, builds and runs every test: the README's test command.
#   tools/test.sh [dev|asan|tsan] [ctest arguments...]
# asan runs everything with AddressSanitizer and UndefinedBehaviorSanitizer; tsan runs the
# tests labelled "concurrent" under ThreadSanitizer. The soak test (label "soak") runs only with
# TARN1_SOAK=1. With CI=true a skipped test fails the run unless tests/skips_allowed.txt names it
# for this flavour.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
flavour=${1:-dev}
shift || true

"$root/tools/setup.sh"
"$root/tools/build.sh" "$flavour"

label_args=()
if [ "$flavour" = "tsan" ]; then
    label_args=(-L concurrent)
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
fi
if [ "$flavour" = "asan" ]; then
    export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1 ${ASAN_OPTIONS:-}"
    export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
fi

# The soak test takes minutes and skips unless asked for; leave it out rather than count a skip.
[ "${TARN1_SOAK:-}" = 1 ] || label_args+=(-LE soak)

cd "$root/build/$flavour"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --output-on-failure --no-tests=error --parallel "$(nproc)" "${label_args[@]}" "$@" | tee "$log" \
    || status=$?
[ "${CI:-}" = "true" ] || exit "$status"

"$root/tools/check_skips.sh" "$flavour" "$log" || status=1
exit "$status"
