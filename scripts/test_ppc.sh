#!/usr/bin/env bash
# The board's own build, for 32-bit big-endian PowerPC, run under qemu-user:
# the unit tests and a server on the simulated board (build-ppc/), the server
# that goes on the board (Linux backend, build-ppc/board-server/), and one
# black-box test that drives the emulated server as the host build's server.
# Installs what is missing first.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Tests that cannot run under user-mode emulation, by GoogleTest name, each
# with its reason. They run in the host lane.
skipped=(
    # qemu-user hands back only the first word of TCP_INFO, so the controller
    # acceptor's connection checks cannot read the TCP state there.
    Acceptor.ASecondControllerIsRefusedAndPutsTheFirstUnderCloseWatch
    Acceptor.TheCheckDropsAControllerWhoseConnectionWasReset
    # tshark is an independent peer, run only in the host lane (the ED-137
    # known answers it confirms run here in radio_codec_test).
    'Ed137Tshark.*'
    'FrameTraceTest.TsharkNamesWhatThePrinterNames'
    'BriBusTest.NetworkPortCaptureReadsAsWeSentIt'
    'RtpCapture.*'
    # snmptrapd, text2pcap and tshark are host programs; the trap builder's
    # known answers run here in monitoring_test.
    'SnmpTrapInterop.*'
    # The test starts two more copies of its own program, which the host
    # cannot run without a binfmt handler for the board's binaries.
    LapdTeiTest.DefaultRiDiffersFromOneStartToTheNext
)

"$repo/scripts/deps.sh" build test ppc || exit 1

dir="$repo/build-ppc"
toolchain="$repo/cmake/powerpc-linux-gnu.cmake"
sysroot=/usr/powerpc-linux-gnu
status=0

# GoogleTest for PowerPC, built from Debian's sources once (again when the
# toolchain file changes).
gtest="$dir/googletest"
gtest_config="$gtest/install/lib/cmake/GTest/GTestConfig.cmake"
if [[ ! -f "$gtest_config" || "$toolchain" -nt "$gtest_config" ]]; then
    mkdir -p "$gtest"
    { cmake -S /usr/src/googletest -B "$gtest/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
          -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest/install" \
          -DCMAKE_INSTALL_LIBDIR=lib &&
      cmake --build "$gtest/build" -j "$jobs" --target install; } >"$gtest/build.log" 2>&1 || {
        tail -40 "$gtest/build.log" >&2
        echo "GoogleTest for PowerPC failed: see $gtest/build.log" >&2
        exit 1
    }
fi

# SERVER_BOARD=sim: the tests drive the simulated board, not the board's own
# drivers (the default when building for PowerPC). No sanitizers: qemu-user
# cannot run them.
configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DGTest_DIR="$(dirname "$gtest_config")" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1" -DSERVER_BOARD=sim \
    -DSERVER_TESTS=ON -DSERVER_UNIT_TESTS_ONLY=ON -DSERVER_TEST_PER_CASE=OFF || exit 1
build "$dir" || exit 1
build "$dir" server || exit 1

echo "== unit tests under emulation"
echo "Skipped under emulation: ${skipped[*]}"
(cd "$dir" && GTEST_FILTER="-$(IFS=:; echo "${skipped[*]}")" ctest -j "$jobs" --output-on-failure) ||
    status=1

# The server that goes on the board: the Linux backend, optimised. Asked for
# its version it must start and end (status 2) without changing anything of
# the host's board folders: qemu's own trace of the program's system calls
# may show only read-only opens there (the configuration file).
echo "== board server (Linux backend, Release): --version under emulation"
bdir="$dir/board-server"
configure "$bdir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DSERVER_BOARD=linux || exit 1
build "$bdir" server || exit 1
trace="$bdir/version-syscalls.log"
version=$(QEMU_STRACE=1 qemu-ppc -L "$sysroot" "$bdir/server/server" --version 2>"$trace")
rc=$?
touched=$(grep -E '"/(var|dev|usr/local)(/|")' "$trace" |
          grep -vE '^[0-9]+ openat\(AT_FDCWD,"[^"]*",O_RDONLY(\|[A-Z_]+)*\)')
if [[ $rc -ne 2 || $version != "server version: "* || -n $touched ]]; then
    echo "board server --version: status $rc, printed \"$version\"; touched: $touched" >&2
    status=1
else
    echo "$version (status 2, nothing written under /var, /dev or /usr/local)"
fi

# The simulated-board server built above, under emulation, against the host
# build's server (the test build, built here if the host lane has not).
echo "== board server (simulated board) against the host build's server"
hdir="$repo/build-test"
[[ -f "$hdir/CMakeCache.txt" ]] || configure_host_tests "$hdir" || exit 1
build "$hdir" server server_blackbox_test || exit 1
PPC_SERVER="$dir/server/server" PPC_EMULATOR="$(command -v qemu-ppc)" PPC_SYSROOT="$sysroot" \
    BOARD_TEST_TMP="$hdir/test-tmp" \
    "$hdir/tests/e2e/server_blackbox_test" --gtest_filter='BoardBuild.*' || status=1

exit $status
