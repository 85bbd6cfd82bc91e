#!/usr/bin/env bash
# The README's first command: sets up, builds and installs the daemons into build/dev/stage, then
# runs them on this machine. The daemons see the fixed paths they expect (/etc/adaptive,
# /dev/input, /sys/vmctl, /run/adaptive) inside a private mount namespace, where those are empty
# temporary folders; nothing outside the namespace changes. Ctrl-C ends the run.
#   tools/run.sh [configuration.json]     (default: the shipped example configuration)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/tools/setup.sh"
"$root/tools/build.sh" dev
cmake --install "$root/build/dev" >/dev/null
stage="$root/build/dev/stage"
config=${1:-"$stage/share/tarn1/statewarden.json"}

if [ ! -x "$stage/bin/Statewarden" ]; then
    echo "run: Statewarden is not part of this build; nothing to start" >&2
    exit 1
fi

if [ "$(id -u)" -eq 0 ]; then
    namespace=(unshare --mount --propagation private)
else
    namespace=(unshare --user --map-root-user --mount --propagation private)
fi
if ! "${namespace[@]}" true 2>/dev/null; then
    echo "run: cannot create a private mount namespace here (${namespace[*]} failed)." >&2
    echo "     Run as root, or enable unprivileged user namespaces (sysctl kernel.unprivileged_userns_clone=1)." >&2
    exit 1
fi

# The per-cycle lines are at verbose level; show them with ARA_LOG_LEVEL=verbose.
export ARA_LOG_LEVEL=${ARA_LOG_LEVEL:-info}

echo "run: starting the daemons with $config; Ctrl-C ends them"
exec "${namespace[@]}" "$root/tools/vm_paths.sh" "$config" sh -c '
    stage=$1
    if [ -x "$stage/bin/tarn1_iam_daemon" ]; then
        "$stage/bin/tarn1_iam_daemon" &
    fi
    exec "$stage/bin/Statewarden"
' run "$stage"
