#!/usr/bin/env bash
# Sets up, builds and installs the daemons into build/dev/stage, then starts what exists:
# the README's first command.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/tools/setup.sh"
"$root/tools/build.sh" dev
cmake --install "$root/build/dev" >/dev/null
stage="$root/build/dev/stage"

found=0
for daemon in Statewarden tarn1_iam_daemon; do
    if [ -x "$stage/bin/$daemon" ]; then
        found=1
    else
        echo "run: $daemon is not part of this build yet"
    fi
done
if [ "$found" = 0 ]; then
    echo "run: built and installed the platform stand-ins into $stage; no daemon exists yet, nothing to start."
    exit 0
fi
