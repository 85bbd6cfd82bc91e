#!/usr/bin/env bash
# Sets up, builds and runs every test: the README's test command.
#   tools/test.sh [dev|asan|tsan] [ctest arguments...]
# asan runs everything with AddressSanitizer and UndefinedBehaviorSanitizer; tsan runs the
# tests labelled "concurrent" under ThreadSanitizer.
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

cd "$root/build/$flavour"
ctest --output-on-failure --no-tests=error --parallel "$(nproc)" "${label_args[@]}" "$@"
