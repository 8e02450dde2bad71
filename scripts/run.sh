#!/usr/bin/env bash
# Builds the server for the simulated board and runs it in the foreground on
# port 20001 with the board's files under board-root/. Ctrl-C stops it.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

"$repo/scripts/deps.sh" build || exit 1

dir="$repo/build"
configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSERVER_BOARD=sim || exit 1
build "$dir" || exit 1

export BOARD_ROOT="${BOARD_ROOT:-$repo/board-root}"
"$repo/scripts/prepare_board_root.sh" "$BOARD_ROOT"
exec "$dir/server/server" --port "${PORT:-20001}" "$@"
