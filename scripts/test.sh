#!/usr/bin/env bash
# Builds the test build (AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs every test, then the fuzzers, then the unit tests on the board's own
# build (PowerPC, under emulation). Installs what is missing first.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

"$repo/scripts/deps.sh" build test fuzz ppc || exit 1

status=0

echo "== host tests (g++, sanitizers)"
dir="$repo/build-test"
configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DSERVER_TESTS=ON -DSERVER_SANITIZE=ON -DSERVER_BENCH=ON || exit 1
build "$dir" || exit 1
(cd "$dir" && ctest -j "$jobs" --output-on-failure -LE fuzz) || status=1

if [[ -f "$repo/fuzz/CMakeLists.txt" ]]; then
    echo "== fuzz targets (clang, libFuzzer, ${FUZZ_SECONDS:-60} s each)"
    fdir="$repo/build-fuzz"
    configure "$fdir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSERVER_FUZZ=ON -DSERVER_FUZZ_SECONDS="${FUZZ_SECONDS:-60}" || exit 1
    build "$fdir" || exit 1
    (cd "$fdir" && ctest -j "$jobs" --output-on-failure -L fuzz) || status=1
fi

echo "== board build (PowerPC under qemu-user)"
"$repo/scripts/test_ppc.sh" || status=1

exit $status
