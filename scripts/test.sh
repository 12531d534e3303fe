#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer + UndefinedBehavior-
# Sanitizer build, and a short run of every fuzz target. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${QV_FUZZ_SECONDS:-10}

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$jobs"
echo "== tests"
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 300

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_BENCH=OFF > /dev/null
cmake --build build-asan -j"$jobs"
echo "== tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure --timeout 600

echo "== fuzz targets (${fuzz_seconds}s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_FUZZ=ON -DQV_TESTS=OFF -DQV_BENCH=OFF > /dev/null
cmake --build build-fuzz -j"$jobs" --target qv_fuzz_all
fuzz_failed=0
for target in build-fuzz/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  if "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" \
      > "build-fuzz/$name.log" 2>&1; then
    echo "fuzz $name: no crash in ${fuzz_seconds}s"
  else
    echo "fuzz $name: FAILED (see build-fuzz/$name.log)"
    tail -n 40 "build-fuzz/$name.log"
    fuzz_failed=1
  fi
done
exit $fuzz_failed
