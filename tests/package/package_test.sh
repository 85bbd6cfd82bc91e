#!/bin/sh
# Builds the Debian package from a finished build tree (`cpack -G DEB`, no rebuild) and checks it:
# its control data and file list (dpkg-deb -I / -c), the tree it unpacks to (dpkg -x into a
# temporary root), and its systemd units (systemd-analyze verify, on copies whose program paths
# point into that root, since the package is not installed here). lintian's findings are printed
# when lintian is there; they do not fail the test.
#   package_test.sh <build dir> <source dir>
set -eu
build=$1
source=$2

for tool in cpack dpkg-deb dpkg systemd-analyze; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing (tools/setup.sh installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Each tool gets a bound of its own, so that a slow one says which it was instead of the whole test
# running into ctest's timeout.
if ! timeout 120 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack -G DEB" >&2
    exit 1
fi
deb=$(ls "$work"/out/*.deb)
echo "package: $(basename "$deb")"

# --- control data ---
[ "$(dpkg-deb -f "$deb" Package)" = "tarn1" ] || fail "package name: $(dpkg-deb -f "$deb" Package)"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# found by dpkg-shlibdeps from what the programs link
for library in libc6 libstdc++6 libsystemd0 libdlt2 libboost-serialization; do
    case "$depends" in
        *"$library"*) ;;
        *) fail "Depends lacks $library" ;;
    esac
done
[ "$(dpkg-deb -I "$deb" conffiles)" = "/etc/adaptive/statewarden.json" ] ||
    fail "conffiles: $(dpkg-deb -I "$deb" conffiles 2>&1)"
for script in postinst prerm postrm; do
    dpkg-deb -I "$deb" "$script" | head -n 1 | grep -q '^#!/bin/sh' || fail "control script $script missing"
done

# --- file list ---
dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/contents"
for path in \
    ./usr/bin/Statewarden \
    ./usr/bin/tarn1_iam_daemon \
    ./usr/bin/iam_client \
    ./usr/bin/com_tool \
    ./usr/bin/statewarden_ctl \
    ./usr/lib/systemd/system/statewarden.service \
    ./usr/lib/systemd/system/tarn1_iam_daemon.service \
    ./etc/adaptive/statewarden.json \
    ./usr/share/tarn1/alias_rules.conf \
    ./usr/share/tarn1/policy.conf \
    ./usr/share/doc/tarn1/README.md \
    ./usr/share/doc/tarn1/platform.md; do
    grep -qx "$path" "$work/contents" || fail "$path is not in the package"
done
# everything under /usr and /etc; nothing of the machine that built it
if grep -v -e '^\./$' -e '^\./usr/' -e '^\./etc/' "$work/contents"; then
    fail "files outside /usr and /etc (above)"
fi

# --- unpacked ---
root="$work/root"
dpkg -x "$deb" "$root"
for program in Statewarden tarn1_iam_daemon; do
    [ -x "$root/usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
done
cmp -s "$root/etc/adaptive/statewarden.json" "$source/statemanager/config/examples/statewarden.json" ||
    fail "/etc/adaptive/statewarden.json is not the example configuration"
if grep -rl -e "$build" -e "$source" "$root/usr/lib/systemd" "$root/etc" "$root/usr/share/tarn1"; then
    fail "files name the build or source tree (above)"
fi
units="$root/usr/lib/systemd/system"
grep -qx 'ExecStart=/usr/bin/Statewarden' "$units/statewarden.service" || fail "statewarden.service ExecStart"
grep -qx 'ExecStart=/usr/bin/tarn1_iam_daemon' "$units/tarn1_iam_daemon.service" ||
    fail "tarn1_iam_daemon.service ExecStart"

# --- units ---
mkdir "$work/verify"
for unit in statewarden.service tarn1_iam_daemon.service; do
    sed "s#=/usr/bin/#=$root/usr/bin/#" "$units/$unit" >"$work/verify/$unit"
done
# verify returns 0 for unknown keys and bad values too, so any line about our units fails
status=0
timeout 60 systemd-analyze verify "$work/verify/statewarden.service" "$work/verify/tarn1_iam_daemon.service" \
    >"$work/verify.log" 2>&1 || status=$?
cat "$work/verify.log"
[ "$status" -eq 0 ] || fail "systemd-analyze verify exited with $status"
if grep -e 'statewarden\.service' -e 'tarn1_iam_daemon\.service' "$work/verify.log" >/dev/null; then
    fail "systemd-analyze verify found fault with the units (above)"
fi

# --- lintian (reported, not enforced) ---
if command -v lintian >/dev/null 2>&1; then
    echo "lintian findings:"
    timeout 60 lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
