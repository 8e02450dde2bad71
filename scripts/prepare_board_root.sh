#!/usr/bin/env bash
# Lays out a simulated board's files under the given directory, keeping what
# is already there.
set -euo pipefail
root=$1
sample="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/board-root"
mkdir -p "$root"/{var/run,var/log,var/monitoring,proc,usr/local/etc,usr/local/voice,dev}
if [[ -d "$sample" ]]; then
    cp -rn "$sample/." "$root/"
fi
