#!/usr/bin/env bash
# tools/check_skips.sh against a ctest log of the real form: which skips fail a CI run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cat >"$scratch/allowed" <<'LIST'
# comment lines and blank lines are ignored

*      Uinput_test.RealKeyboard       no /dev/uinput
asan   Attacks/Robustness.*Limit      UBSan needs a descriptor
LIST

log() # <lines of the "did not run" list...>
{
    {
        echo "100% tests passed, 0 tests failed out of 3"
        echo
        echo "Total Test time (real) =   1.00 sec"
        echo
        echo "The following tests did not run:"
        printf '\t%s\n' "$@"
    } >"$scratch/log"
}

failures=0
expect() # <expected status> <flavour> <case>
{
    local status=0
    "$root/tools/check_skips.sh" "$2" "$scratch/log" "$scratch/allowed" >"$scratch/out" 2>&1 || status=$?
    if [ "$status" -ne "$1" ]; then
        echo "FAIL: $3: status $status, expected $1"
        cat "$scratch/out"
        failures=$((failures + 1))
    fi
}

log
expect 0 dev "no skips"

log " 12 - Uinput_test.RealKeyboard (Skipped)"
expect 0 dev "a skip allowed in every flavour"

log " 40 - Attacks/Robustness.Bounded/FloodToTheDescriptorLimit (Skipped)"
expect 0 asan "a skip allowed in this flavour by pattern"
expect 1 dev "a skip allowed only in another flavour"

log " 12 - Uinput_test.RealKeyboard (Skipped)" " 77 - Statewarden_test.WholeDaemon (Skipped)"
expect 1 dev "an unlisted skip next to an allowed one"
grep -q "Statewarden_test.WholeDaemon" "$scratch/out" || { echo "FAIL: the refused test is not named"; failures=$((failures + 1)); }
grep -q "Uinput_test" "$scratch/out" && { echo "FAIL: an allowed test is named"; failures=$((failures + 1)); }

log " 90 - system.standby (Not Run)"
expect 1 tsan "a test that did not run for another reason"

log " 13 - Uinput_test.RealKeyboardTwice (Skipped)"
expect 1 dev "a name that only starts like an allowed one"

[ "$failures" -eq 0 ] && echo "check_skips: all cases pass"
exit "$failures"
