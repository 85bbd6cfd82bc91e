#!/bin/sh
# Runs a command with the tarn1 VM's fixed paths made private and empty: /etc/adaptive,
# /dev/input, /sys/vmctl, /run/adaptive and /var/run/adaptive. Meant to run as the first program
# inside a private mount namespace (unshare --mount --propagation private), so that nothing
# outside it changes:
#   unshare --mount --propagation private testbed/vm_paths.sh <config.json> <command> [args...]
# The configuration file is copied to /etc/adaptive/statewarden.json; /sys/vmctl gets empty
# set_status and command_request files; TARN1_HOST_SYS and TARN1_HOST_DEV name where the
# machine's own /sys and /dev stay reachable. Folders named by TARN1_BIND_INPUT and TARN1_BIND_VMCTL
# are bound over /dev/input and /sys/vmctl instead, so that a program outside the namespace can
# press keys and read status words.
set -eu

config=$1
shift

scratch=$(mktemp -d)
mount -t tmpfs tmpfs "$scratch"

# rebuild_dir DIR COPY: where DIR cannot be overlaid (devtmpfs in a user namespace), it is replaced
# by a tmpfs holding the same entries: folders and files bound from the original, links copied.
rebuild_dir() {
    rebuilt=$1
    copy=$2
    mkdir -p "$copy"
    mount -t tmpfs tmpfs "$copy"
    for entry in "$rebuilt"/* "$rebuilt"/.[!.]*; do
        [ -e "$entry" ] || [ -L "$entry" ] || continue
        target="$copy/$(basename "$entry")"
        if [ -L "$entry" ]; then
            cp -P "$entry" "$target"
        elif [ -d "$entry" ]; then
            mkdir "$target" && mount --rbind "$entry" "$target"
        else
            : > "$target" && mount --bind "$entry" "$target"
        fi
    done
    mount -n --move "$copy" "$rebuilt"
}

# private_dir DIR: DIR becomes an empty tmpfs. When DIR does not exist, its parent is overlaid
# with a writable layer first so that DIR can be created without touching the real parent.
private_dir() {
    dir=$1
    if [ ! -d "$dir" ]; then
        parent=$(dirname "$dir")
        [ -d "$parent" ] || private_dir "$parent"
        name=$(echo "$parent" | tr / _)
        mkdir -p "$scratch/$name/upper" "$scratch/$name/work"
        if ! mount -t overlay overlay -o "lowerdir=$parent,upperdir=$scratch/$name/upper,workdir=$scratch/$name/work" "$parent" >"$scratch/$name.log" 2>&1; then
            rebuild_dir "$parent" "$scratch/$name/copy"
        fi
        mkdir "$dir"
    fi
    mount -t tmpfs tmpfs "$dir"
}

# The machine's /sys and /dev stay reachable under the scratch folder (TARN1_HOST_SYS and
# TARN1_HOST_DEV tell the command where): a real keyboard made through uinput gets its event node
# in the machine's device folder, which the private /dev/input below hides. Where a bind is
# refused, the variable stays unset and only the stand-in keyboard can be used.
mkdir "$scratch/host_sys" "$scratch/host_dev"
if mount --rbind /sys "$scratch/host_sys" 2>/dev/null; then
    export TARN1_HOST_SYS="$scratch/host_sys"
fi
if mount --rbind /dev "$scratch/host_dev" 2>/dev/null; then
    export TARN1_HOST_DEV="$scratch/host_dev"
fi

# sysfs cannot hold new folders nor serve as an overlay layer: the VM control folder gets a
# private /sys of its own.
mount -t tmpfs tmpfs /sys
mkdir /sys/vmctl
if [ -n "${TARN1_BIND_VMCTL:-}" ]; then
    mount --bind "$TARN1_BIND_VMCTL" /sys/vmctl
else
    : > /sys/vmctl/set_status
    : > /sys/vmctl/command_request
fi

for dir in /etc/adaptive /dev/input /run/adaptive /var/run/adaptive; do
    private_dir "$dir"
done
if [ -n "${TARN1_BIND_INPUT:-}" ]; then
    mount --bind "$TARN1_BIND_INPUT" /dev/input
fi
cp "$config" /etc/adaptive/statewarden.json

exec "$@"
