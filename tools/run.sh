#!/usr/bin/env bash
# The README's first command: sets up what is missing, builds and installs the daemons into
# build/dev/stage, then starts the simulated VM around them (tarn1_sim, docs/simulator.md): the
# daemons see the fixed paths they expect (/etc/adaptive, /dev/input, /sys/vmctl, /run/adaptive)
# inside a private mount namespace, nothing outside it changes. On a terminal one screen shows the
# VM state, the status words, the NM requests and user data and the notification clients; single
# keys press N, S, P, R and the power key, ':' takes a command, h shows help, q quits.
#   tools/run.sh [configuration.json] [tarn1_sim options...]
#   tools/run.sh --script tests/system/standby_resume_order.scn  (a scenario instead of the console)
# The default configuration is the shipped example, with UDP network management served by the
# simulator's NM services; build/dev/stage/share/tarn1/statewarden_standalone.json runs without NM.
# The console ends on q or at the end of its input.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/tools/setup.sh"
"$root/tools/build.sh" dev
cmake --install "$root/build/dev" >/dev/null
stage="$root/build/dev/stage"

if [ ! -x "$stage/bin/Statewarden" ] || [ ! -x "$stage/bin/tarn1_sim" ]; then
    echo "run: Statewarden or tarn1_sim is not part of this build; nothing to start" >&2
    exit 1
fi
options=(--config "$stage/share/tarn1/statewarden.json")
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    options=(--config "$1")
    shift
fi
# The per-cycle lines are at verbose level; show them with ARA_LOG_LEVEL=verbose.
export ARA_LOG_LEVEL=${ARA_LOG_LEVEL:-info}
exec "$stage/bin/tarn1_sim" "${options[@]}" "$@"
