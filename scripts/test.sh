#!/usr/bin/env bash
# Builds Quorvel and passes every test: the main build, the whole program under
# AddressSanitizer and UndefinedBehaviorSanitizer with leak checking, the threaded parts under
# ThreadSanitizer, short fuzzing runs, and the Windows build with mingw-w64. Installs its own
# Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test

jobs=$(nproc)
fuzz_seconds=${QUORVEL_FUZZ_SECONDS:-30}
step() { printf '\n=== %s\n' "$*"; }

step "main build and its tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure

step "the whole program and every test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_BENCH=OFF \
  -DQUORVEL_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure

step "queue and capture thread under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_GUI=OFF \
  -DQUORVEL_BENCH=OFF -DQUORVEL_SANITIZE=thread
cmake --build build-tsan -j"$jobs"
# glibc's tzset takes a lock of its own, which ThreadSanitizer cannot see.
TSAN_OPTIONS="suppressions=$PWD/tests/tsan-suppressions.txt" \
  ctest --test-dir build-tsan --output-on-failure -L threads

step "Windows program with mingw-w64, its tests under wine"
# The capture lab's tests (tests/winelab) take the main build's preload for the wine server.
cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=ON \
  -DQUORVEL_WINELAB_PRELOAD="$PWD/build/lib/libquorvel_winelab_preload.so"
cmake --build build-mingw -j"$jobs"
# One executable that needs nothing but the system's own DLLs.
imports=$(x86_64-w64-mingw32-objdump -p build-mingw/bin/quorvel.exe | awk '/DLL Name/ {print $3}')
echo "quorvel.exe imports:" $imports
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|shell32.dll|ole32.dll|ws2_32.dll|\
    iphlpapi.dll|msvcrt.dll|advapi32.dll) ;;
    *) echo "quorvel.exe needs $dll, which Windows does not ship"; exit 1 ;;
  esac
done
# A release without debug sections.
if x86_64-w64-mingw32-objdump -h build-mingw/bin/quorvel.exe | grep -q '\.debug_'; then
  echo "quorvel.exe carries debug sections"
  exit 1
fi
ctest --test-dir build-mingw --output-on-failure

step "fuzzing the decoder and the capture stream's reader, ${fuzz_seconds} s each"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=OFF -DQUORVEL_TESTS=OFF -DQUORVEL_FUZZ=ON \
  -DQUORVEL_SANITIZE=address,undefined
cmake --build build-fuzz -j"$jobs"
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir "$corpus/seeds" "$corpus/streams" && build-fuzz/bin/make_seed_corpus "$corpus/seeds" "$corpus/streams"
fuzz() {
  local target=$1
  shift
  local log="$corpus/$target.log"
  if ! "build-fuzz/bin/$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$@" \
      >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "the fuzzer $target failed"
    exit 1
  fi
  echo "$target:" $(grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log")
}
fuzz fuzz_decode_datagram -max_len=4096 "$corpus/seeds"
fuzz fuzz_capture_stream -max_len=8192 "$corpus/streams"
