#!/usr/bin/env bash
# Installs what the project needs from Debian's packages; safe to run again (it installs only
# what is missing). Needs root, or sudo.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    nlohmann-json3-dev libasio-dev libboost-serialization-dev libboost-system-dev
    libgtest-dev libgmock-dev
    # the timeline picture's test reads it as XML
    libexpat1-dev
    libdlt-dev dlt-daemon dlt-tools
    libsystemd-dev
    util-linux procps
    # the Debian package and its checks: dpkg-shlibdeps, systemd-analyze, lintian
    dpkg-dev systemd lintian
    # the fuzzers: clang and libFuzzer's runtime
    clang libclang-rt-14-dev
    # tools/lint.sh: the house format and the static checks (version 14 reads .clang-format's keys)
    clang-format clang-tidy
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "setup: missing packages (${missing[*]}) and not root; install them or run as root" >&2
        exit 1
    fi
    sudo_cmd=(sudo)
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
