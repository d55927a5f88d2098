#!/bin/bash
# Installs what is missing, builds the delivered configuration (live camera
# only) in build/ and starts the program from the repository directory, so
# that output/ lands there.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$repo/scripts/deps.sh"

kestrova_install_missing
cmake -S "$repo" -B "$repo/build" -DmovieModesEnabled=OFF
cmake --build "$repo/build" -j "$(kestrova_jobs)"
cd "$repo"
exec "$repo/build/kestrova"
