#!/bin/sh
# Shows the log of the simulated VM (tarn1_sim): every line both daemons write and every event the
# simulator sees, in one file per run. Installed as tarn1_sim_log.
#   tools/sim_log.sh            follows the newest run from its start, and the next run when one begins
#   tools/sim_log.sh FILE       follows that log (e.g. a system test's build/dev/tests/system/<name>.log)
#   tools/sim_log.sh --list     the runs' logs kept in /tmp, oldest first
set -eu

latest=/tmp/tarn1_sim.log

case "${1:-}" in
    --list)
        ls -1tr /tmp/tarn1_sim.*.log 2>/dev/null || echo "sim_log: no run logs in /tmp" >&2
        exit 0
        ;;
    -h | --help)
        sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    "")
        if [ ! -e "$latest" ]; then
            echo "sim_log: no run yet ($latest does not exist); waiting for one" >&2
        fi
        file=$latest
        ;;
    *)
        file=$1
        ;;
esac

# -F follows the name, so a new run's file is picked up when the link moves to it.
exec tail -n +1 -F "$file"
