#!/usr/bin/env bash
# The board's own build: builds the unit tests for 32-bit big-endian PowerPC
# with the simulated board backend into build-ppc/ and runs them under
# qemu-user. Installs what is missing first.
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

"$repo/scripts/deps.sh" build ppc || exit 1

dir="$repo/build-ppc"
toolchain="$repo/cmake/powerpc-linux-gnu.cmake"

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

if [[ ${#skipped[@]} -gt 0 ]]; then
    echo "Skipped under emulation: ${skipped[*]}"
    export GTEST_FILTER="-$(IFS=:; echo "${skipped[*]}")"
fi
cd "$dir" && ctest -j "$jobs" --output-on-failure
