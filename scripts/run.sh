#!/usr/bin/env bash
# The main job: installs what is needed, builds the installer and runs it.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/deps.sh
exec bash scripts/run-installer.sh "$@"
