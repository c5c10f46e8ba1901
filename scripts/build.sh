#!/usr/bin/env bash
# Builds every configuration and collects the finished binaries in dist/:
#   build/native  Linux plug-in, host, tests and benchmarks (g++); its CTest also runs
#                 the other configurations' tests
#   build/asan    the same under AddressSanitizer and UndefinedBehaviorSanitizer, plus
#                 the libFuzzer targets (clang)
#   build/tsan    the unit tests under ThreadSanitizer (clang), for the packing threads
#   build/win32   32-bit Windows plug-in and host
#   build/win64   64-bit Windows plug-in, host and tests (run under wine64)
#   build/linux32 the unit tests for 32-bit Linux (g++ -m32), which take the same plain
#                 byte-by-byte paths as the 32-bit Windows plug-in
#   build/corpus  the real-file corpus (bench/make_corpus.py), kept out of the repository
# Re-running only rebuilds what changed. KYRZBK_JOBS sets the parallel jobs (default 2).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/deps.sh

jobs="${KYRZBK_JOBS:-2}"
build="$root/build"
dist="$root/dist"
generator="Unix Makefiles"
command -v ninja >/dev/null && generator=Ninja

# Configures a build folder when it is new or its settings changed; a folder made with
# other settings (or another generator) is started afresh, since CMake cannot switch
# compilers or generators in place.
configure() {
    local dir="$1"
    shift
    local settings
    settings="$(printf '%s\n' "generator=$generator" "$@")"
    if [ -f "$dir/CMakeCache.txt" ] && [ "$(cat "$dir/.kyrzbk-settings" 2>/dev/null)" == "$settings" ]; then
        return
    fi
    echo "== configuring $dir"
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    cmake -S "$root" -B "$dir" -G "$generator" "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log" >&2; return 1; }
    printf '%s\n' "$settings" >"$dir/.kyrzbk-settings"
}

compile() {
    echo "== building $1"
    cmake --build "$1" -j "$jobs"
}

python3 "$root/bench/make_corpus.py" "$build/corpus"

configure "$build/native" -DCMAKE_BUILD_TYPE=Release -DKYRZBK_TESTS=ON -DKYRZBK_BENCH=ON \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DKYRZBK_DIST_ROOT="$dist" \
    -DKYRZBK_SANITIZER_BUILD_DIR="$build/asan" -DKYRZBK_TSAN_BUILD_DIR="$build/tsan" \
    -DKYRZBK_WIN64_BUILD_DIR="$build/win64" \
    -DKYRZBK_WIN32_BUILD_DIR="$build/win32" -DKYRZBK_LINUX32_BUILD_DIR="$build/linux32" \
    -DKYRZBK_CORPUS_DIR="$build/corpus"
configure "$build/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYRZBK_TESTS=ON \
    -DKYRZBK_SANITIZE=ON -DKYRZBK_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
configure "$build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYRZBK_TESTS=ON -DKYRZBK_TSAN=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
configure "$build/win32" -DCMAKE_BUILD_TYPE=Release -DKYRZBK_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw32.cmake" -DKYRZBK_DIST_ROOT="$dist"
configure "$build/win64" -DCMAKE_BUILD_TYPE=Release -DKYRZBK_TESTS=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" -DKYRZBK_DIST_ROOT="$dist"
configure "$build/linux32" -DCMAKE_BUILD_TYPE=Release -DKYRZBK_TESTS=ON -DKYRZBK_BUNDLED_GTEST=ON \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32

for config in native asan win32 win64; do
    compile "$build/$config"
done
echo "== building $build/tsan"
cmake --build "$build/tsan" -j "$jobs" --target kyrzbk_tests
echo "== building $build/linux32"
cmake --build "$build/linux32" -j "$jobs" --target kyrzbk_tests
echo "== binaries in $dist: $(cd "$dist" && echo */*)"
