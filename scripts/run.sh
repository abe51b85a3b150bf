#!/usr/bin/env bash
# The main job: installs what is needed, builds the installer and runs it.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/deps.sh
if [ -x scripts/run-installer.sh ]; then
    exec scripts/run-installer.sh "$@"
fi
echo "run: the installer program is not built yet" >&2
exit 1
