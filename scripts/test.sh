#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer + UndefinedBehavior-
# Sanitizer build, a ThreadSanitizer build of the tests of the threaded parts, and a short
# run of every fuzz target. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${QV_FUZZ_SECONDS:-5}
# Backtraces need only line tables; full debug information would add a third to every -O2
# compile. (At -O0, as in the AddressSanitizer build, it costs nothing, so that keeps it.)
lines_only=-DQV_LINE_TABLES_ONLY=ON
# Each step says how long the run has taken, so a slow step shows where CI time goes.
step() { echo "== $1 (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

step "build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$lines_only" > /dev/null
cmake --build build -j"$jobs"
step "tests"
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 300

step "build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_BENCH=OFF > /dev/null
cmake --build build-asan -j"$jobs"
step "tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure --timeout 600

step "build (ThreadSanitizer): the tests of the threaded parts"
# The tracer with its recorders and detection (X11 tests included), the messaging, the hooks,
# the journal, the indexing service, the ranking objects, the ranking service with its
# worker, and the runtime manager. Only these programs are built, to keep CI short.
tsan_programs=(tracer_tests qvtracer_program_tests qvtracer_x11_tests recording_tests
  detection_tests detection_x11_tests messaging_tests qvhooks_tests qvhooks_exports_tests
  qvwlnp_tests journal_tests indexing_tests ranking_tests ranking_svc_tests
  manager_runtime_tests)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TSAN=ON -DQV_BENCH=OFF \
  "$lines_only" > /dev/null
tsan_known=$(cmake --build build-tsan --target help)
tsan_targets=()
tsan_labels=""
for program in "${tsan_programs[@]}"; do
  # The X11 tests exist only where the X11 development files were found.
  grep -q "^${program}:" <<< "$tsan_known" || continue
  tsan_targets+=("$program")
  tsan_labels+="${tsan_labels:+|}$program"
done
cmake --build build-tsan -j"$jobs" --target "${tsan_targets[@]}"
step "tests under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp \
  ctest --test-dir build-tsan -j"$jobs" --output-on-failure --timeout 600 -L "^(${tsan_labels})\$"

step "fuzz targets (${fuzz_seconds}s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_FUZZ=ON -DQV_TESTS=OFF -DQV_BENCH=OFF "$lines_only" > /dev/null
cmake --build build-fuzz -j"$jobs" --target qv_fuzz_all
fuzz_failed=0
for target in build-fuzz/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  seconds=$fuzz_seconds
  # The search query target composes and parses several query texts per input and runs
  # some 150 inputs a second where the others run thousands: it gets six times as long.
  [ "$name" = search_query_fuzz ] && seconds=$((fuzz_seconds * 6))
  if "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" \
      > "build-fuzz/$name.log" 2>&1; then
    echo "fuzz $name: no crash in ${seconds}s"
  else
    echo "fuzz $name: FAILED (see build-fuzz/$name.log)"
    tail -n 40 "build-fuzz/$name.log"
    fuzz_failed=1
  fi
done
step "done"
exit $fuzz_failed
