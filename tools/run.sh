#!/usr/bin/env bash
# The README's first command: sets up, builds and installs the daemons into build/dev/stage, then
# runs them on this machine. The daemons see the fixed paths they expect (/etc/adaptive,
# /dev/input, /sys/vmctl, /run/adaptive) inside a private mount namespace; nothing outside the
# namespace changes. A stand-in keyboard plays the hypervisor: on a terminal, single keys press
# N, S, P, R and the power key, and the VM status words are shown as they arrive.
#   tools/run.sh [configuration.json]
# The default configuration is the shipped example without UDP network management
# (statewarden_standalone.json): no NM service runs here for the daemon to wait for.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/tools/setup.sh"
"$root/tools/build.sh" dev
cmake --install "$root/build/dev" >/dev/null
stage="$root/build/dev/stage"
config=${1:-"$stage/share/tarn1/statewarden_standalone.json"}

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

# What the hypervisor sees: the input device (a FIFO) and the VM control files, in a folder
# outside the namespace.
run_dir=$(mktemp -d "${TMPDIR:-/tmp}/tarn1-run.XXXXXX")
mkdir "$run_dir/input" "$run_dir/vmctl" "$run_dir/com"
mkfifo "$run_dir/input/event0"
: > "$run_dir/vmctl/set_status"
: > "$run_dir/vmctl/command_request"
# Held open for the whole run, so the device never hangs up between key presses.
exec 3<>"$run_dir/input/event0"

daemon_pid=""
watcher_pid=""
cleanup() {
    [ -n "$watcher_pid" ] && kill "$watcher_pid" 2>/dev/null
    if [ -n "$daemon_pid" ] && kill -0 "$daemon_pid" 2>/dev/null; then
        kill -TERM "$daemon_pid" 2>/dev/null
        wait "$daemon_pid" 2>/dev/null
    fi
    exec 3>&-
    rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The per-cycle lines are at verbose level; show them with ARA_LOG_LEVEL=verbose.
export ARA_LOG_LEVEL=${ARA_LOG_LEVEL:-info}
export TARN1_BIND_INPUT="$run_dir/input" TARN1_BIND_VMCTL="$run_dir/vmctl"
# The middleware's discovery folder of this run, reachable from outside for com_tool.
export TARN1_COM_DIR="$run_dir/com"

echo "run: starting the daemons with $config"
"${namespace[@]}" "$root/tools/vm_paths.sh" "$config" sh -c '
    stage=$1
    iam=""
    if [ -x "$stage/bin/tarn1_iam_daemon" ]; then
        TARN1_IAM_ALIAS_RULES=${TARN1_IAM_ALIAS_RULES:-$stage/share/tarn1/alias_rules.conf} \
        TARN1_IAM_POLICY=${TARN1_IAM_POLICY:-$stage/share/tarn1/policy.conf} \
            "$stage/bin/tarn1_iam_daemon" &
        iam=$!
    fi
    LD_PRELOAD="$stage/lib/libtarn1_evdev_standin.so" "$stage/bin/Statewarden" &
    statewarden=$!
    trap "kill -TERM $statewarden 2>/dev/null" TERM INT
    while kill -0 $statewarden 2>/dev/null; do
        wait $statewarden
        status=$?
    done
    if [ -n "$iam" ]; then
        kill -TERM $iam 2>/dev/null
        wait $iam
    fi
    exit $status
' run "$stage" &
daemon_pid=$!

# Shows each status word as the daemon writes it (the words run together in the file).
(
    shown=0
    while sleep 0.2; do
        size=$(stat -c %s "$run_dir/vmctl/set_status" 2>/dev/null || echo 0)
        if [ "$size" -gt "$shown" ]; then
            printf '\n>>> VM status: %s\n' "$(tail -c +$((shown + 1)) "$run_dir/vmctl/set_status")" >&2
            shown=$size
        fi
    done
) &
watcher_pid=$!

if [ ! -t 0 ]; then
    wait "$daemon_pid"
    exit $?
fi

cat >&2 <<HELP
run: keys: n = NM controlled, s = NM controlled with prepare-SD, p = prepare standby,
     r = run/resume, o = power key, q = quit (SIGTERM). From another terminal:
     $stage/bin/tarn1_evdev_key $run_dir/input/event0 P
     TARN1_COM_DIR=$run_dir/com $stage/bin/com_tool list
HELP
while kill -0 "$daemon_pid" 2>/dev/null; do
    if IFS= read -rsn1 -t 1 key; then
        :
    elif [ $? -gt 128 ]; then
        continue            # no key within the second
    else
        break               # end of input
    fi
    case "$key" in
        n|N) k=N ;;
        s|S) k=S ;;
        p|P) k=P ;;
        r|R) k=R ;;
        o|O) k=POWER ;;
        q|Q) break ;;
        *) continue ;;
    esac
    echo "run: hypervisor presses $k" >&2
    "$stage/bin/tarn1_evdev_key" "$run_dir/input/event0" "$k" || true
done
