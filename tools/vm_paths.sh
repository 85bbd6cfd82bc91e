#!/bin/sh
# Runs a command with the tarn1 VM's fixed paths made private and empty: /etc/adaptive,
# /dev/input, /sys/vmctl, /run/adaptive and /var/run/adaptive. Meant to run as the first program
# inside a private mount namespace (unshare --mount --propagation private), so that nothing
# outside it changes:
#   unshare --mount --propagation private tools/vm_paths.sh <config.json> <command> [args...]
# The configuration file is copied to /etc/adaptive/statewarden.json; /sys/vmctl gets empty
# set_status and command_request files. Folders named by TARN1_BIND_INPUT and TARN1_BIND_VMCTL
# are bound over /dev/input and /sys/vmctl instead, so that a program outside the namespace can
# press keys and read status words.
set -eu

config=$1
shift

scratch=$(mktemp -d)
mount -t tmpfs tmpfs "$scratch"

# private_dir DIR: DIR becomes an empty tmpfs. When DIR does not exist, its parent is overlaid
# with a writable layer first so that DIR can be created without touching the real parent.
private_dir() {
    dir=$1
    if [ ! -d "$dir" ]; then
        parent=$(dirname "$dir")
        [ -d "$parent" ] || private_dir "$parent"
        name=$(echo "$parent" | tr / _)
        mkdir -p "$scratch/$name/upper" "$scratch/$name/work"
        mount -t overlay overlay -o "lowerdir=$parent,upperdir=$scratch/$name/upper,workdir=$scratch/$name/work" "$parent"
        mkdir "$dir"
    fi
    mount -t tmpfs tmpfs "$dir"
}

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
