# Shared by the README's commands.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# configure <build dir> <cmake args...>: quiet unless it fails.
configure() {
    local dir=$1
    shift
    mkdir -p "$dir"
    cmake -S "$repo" -B "$dir" "$@" >"$dir/configure.log" 2>&1 || {
        cat "$dir/configure.log" >&2
        return 1
    }
}

# build <build dir> [targets...]: shows only the compiler's complaints.
build() {
    local dir=$1
    shift
    local targets=()
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$dir" -j "$jobs" "${targets[@]}" >"$dir/build.log" 2>&1 || {
        grep -E -A5 'error|Error' "$dir/build.log" | head -80 >&2
        echo "build failed: see $dir/build.log" >&2
        return 1
    }
}

# configure_host_tests <build dir>: the test build, with the sanitizers.
# Unoptimised with line tables only: the sanitizers need no more, and it
# compiles in half the time of -O1 -g (an optimised build is tested apart).
configure_host_tests() {
    configure "$1" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O0" \
        -DSERVER_TESTS=ON -DSERVER_SANITIZE=ON -DSERVER_BENCH=ON
}
