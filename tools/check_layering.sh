#!/usr/bin/env bash
# Fails when a source of a lower layer includes a header of a higher one. The layers, lowest first:
#   platform  <-  client_state_notifier  <-  statemanager, iam  <-  testbed  <-  tools
# statemanager and iam stand side by side and include nothing of each other. Tests and benchmarks
# (tests/, and every tests/ or bench/ folder of a component) sit above everything and may include
# anything; no other file may include them.
#   tools/check_layering.sh [repository root]      (default: the repository of this script)
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

folders=(platform client_state_notifier statemanager iam testbed tools tests)
sources=$(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) 2>/dev/null | sort)
if [ -z "$sources" ]; then
    echo "check_layering: no sources under $root" >&2
    exit 2
fi

# Every quoted include as "file<TAB>line<TAB>header"; the awk program below judges each.
# shellcheck disable=SC2086
grep -Hn -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' $sources |
    sed -E 's/^([^:]+):([0-9]+):[^"]*"([^"]+)".*/\1\t\2\t\3/' |
    awk -F'\t' '
        function rank(path,   top) {
            if (path ~ /^tests\// || path ~ /\/(tests|bench)\//) return 6
            top = path; sub(/\/.*/, "", top)
            if (top == "platform") return 0
            if (top == "client_state_notifier") return 1
            if (top == "statemanager" || top == "iam") return 2
            if (top == "testbed") return 3
            if (top == "tools") return 4
            return -1
        }
        function top_of(path,   top) { top = path; sub(/\/.*/, "", top); return top }
        {
            header_rank = rank($3)
            if (header_rank < 0) next            # a system, platform include/ or same-folder header
            file_rank = rank($1)
            if (header_rank > file_rank || (header_rank == file_rank && header_rank == 2 && top_of($1) != top_of($3))) {
                printf "%s:%s: includes \"%s\", against the layer order\n", $1, $2, $3
                bad++
            }
        }
        END {
            if (bad) { printf "check_layering: %d include(s) against the layer order\n", bad; exit 1 }
            print "check_layering: every include follows the layer order"
        }'
