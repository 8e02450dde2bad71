#!/usr/bin/env bash
# Builds the test build (AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs every test, then the unit tests built optimised, then the fuzzers,
# then the unit tests on the board's own build (PowerPC, under emulation).
# Installs what is missing first.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Tests reach nothing outside this machine: once the packages are in, the
# script runs itself again in a network namespace of its own, where only
# loopback exists.
if [[ -z "${TESTS_IN_NETNS:-}" ]]; then
    "$repo/scripts/deps.sh" build test fuzz ppc || exit 1
    if unshare -n true 2>/dev/null; then
        TESTS_IN_NETNS=1 exec unshare -n "$BASH" "${BASH_SOURCE[0]}" "$@"
    fi
    echo "test.sh: no network namespace can be made here; the tests run on the host's network"
else
    ip link set lo up || exit 1
fi

status=0

echo "== host tests (g++, sanitizers)"
dir="$repo/build-test"
configure_host_tests "$dir" || exit 1
build "$dir" || exit 1
(cd "$dir" && ctest -j "$jobs" --output-on-failure -LE fuzz) || status=1

# Some faults show only when the optimiser has been at the code (and some
# warnings are only given then).
echo "== unit tests optimised (g++ -O2, no sanitizers)"
odir="$repo/build-opt"
configure "$odir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DSERVER_TESTS=ON -DSERVER_UNIT_TESTS_ONLY=ON || exit 1
build "$odir" || exit 1
(cd "$odir" && ctest -j "$jobs" --output-on-failure -LE fuzz) || status=1

if [[ -f "$repo/fuzz/CMakeLists.txt" ]]; then
    echo "== fuzz targets (clang, libFuzzer, ${FUZZ_SECONDS:-20} s each)"
    fdir="$repo/build-fuzz"
    configure "$fdir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
        -DSERVER_FUZZ=ON -DSERVER_FUZZ_SECONDS="${FUZZ_SECONDS:-20}" || exit 1
    build "$fdir" || exit 1
    (cd "$fdir" && ctest -j "$jobs" --output-on-failure -L fuzz) || status=1
fi

echo "== board build (PowerPC under qemu-user)"
"$repo/scripts/test_ppc.sh" || status=1

exit $status
