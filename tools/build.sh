#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   tools/build.sh [dev|asan|tsan]   (default dev); build trees go to build/<flavour>
# Extra CMake arguments may follow the flavour.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
flavour=${1:-dev}
shift || true

# The sanitizer flavours build no benchmarks (nothing runs them there); tsan builds only what the
# tests labelled "concurrent" run (target concurrent_tests), the only ones its run has.
extra=()
targets=(all)
case "$flavour" in
    dev)  sanitize="" ;;
    asan) sanitize="address,undefined"; extra+=(-DTARN1_BUILD_BENCHMARKS=OFF) ;;
    tsan) sanitize="thread"; extra+=(-DTARN1_BUILD_BENCHMARKS=OFF); targets=(concurrent_tests) ;;
    *) echo "build: unknown flavour '$flavour' (dev, asan or tsan)" >&2; exit 2 ;;
esac

# CI treats warnings as errors; elsewhere the cached choice stays (default OFF).
[ "${CI:-}" = "true" ] && extra+=(-DTARN1_WERROR=ON)

cmake -S "$root" -B "$root/build/$flavour" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARN1_SANITIZE="$sanitize" \
    -DCMAKE_INSTALL_PREFIX="$root/build/$flavour/stage" \
    "${extra[@]}" "$@"
cmake --build "$root/build/$flavour" --parallel "$(nproc)" --target "${targets[@]}"
