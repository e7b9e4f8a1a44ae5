#!/usr/bin/env bash
# The sanitized runs, the second test command beside scripts/test.sh (.ci/run runs both):
#
#   asan  the native tests under AddressSanitizer + UndefinedBehaviorSanitizer  (build-asan/)
#   tsan  the native tests under ThreadSanitizer                                 (build-tsan/)
#   js    the JavaScript tests against an ASan + UBSan build of the add-on       (build-asan-node/)
#
#   bash scripts/test-sanitized.sh [asan] [tsan] [js]     (default: all three, in that order)
#
# A sanitizer report fails the run even where the test around it passes: ASan, LSan and TSan
# write their reports to files (log_path) under the run's build directory instead of the tests'
# output, so a report from a process whose exit status no test looks at (a child expected to
# die, a scenario that only prints) is still found and counted here. UBSan is the exception:
# built together with ASan by GCC it ignores log_path and reports on standard error; with
# recovery off it then ends the process, which fails the test around it. M below is the failed
# tests plus the report files. Suppressions live in tests/sanitizers/, each with the reason it is
# not ours.
#
# The tests mostly wait for X servers, so each run's tests go on while the next run is built in
# the background at a lower priority; build output goes to build-logs/.
#
# Ends with one summary line: "sanitized: N passed, M failed".
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
bash scripts/setup.sh tests || exit 1

read -r -a runs <<<"${*:-asan tsan js}"
for run in "${runs[@]}"; do
  case "$run" in
    asan | tsan | js) ;;
    *) echo "test-sanitized: unknown run '$run' (asan, tsan or js)"; exit 2 ;;
  esac
done
unset DISPLAY  # every test names its own server
mkdir -p build-logs
supp=$root/tests/sanitizers
passed=0
failed=0

# -O1 and line tables only: the tests wait on X round trips, not on the CPU, and compiling with
# full optimisation and debug information would take most of the CI's time. Line tables are
# all the reports need for file:line frames. NDEBUG stays off so that asserts run too.
cmake_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1")

# The JavaScript run builds in a copy of the tree so that build/ (the plain build, which others
# use meanwhile) is left alone; the tests find the add-on relative to their own directory.
mirror=build-asan-node

# Prints every report file under $1 and adds one failure per report. Files without a report
# (a runtime's warning) are shown but not counted.
count_reports() {
  local dir=$1 file
  shopt -s nullglob
  for file in "$dir"/*; do
    if grep -qE 'ERROR: (Address|Leak|Thread)Sanitizer|WARNING: ThreadSanitizer|runtime error:' "$file"; then
      echo "-- sanitizer report: $file"
      cat "$file"
      failed=$((failed + 1))
    else
      echo "-- sanitizer output without a report: $file"
      cat "$file"
    fi
  done
  shopt -u nullglob
}

# Adds the counts of a CTest log ($1) to the totals; a log without its summary is one failure.
count_ctest() {
  local summary total bad
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$summary" ]; then
    failed=$((failed + 1))
    return
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# Builds a run; its output goes to build-logs/build-RUN.log, its status is the result.
build() {
  case "$1" in
    asan) cmake -S . -B build-asan -DSANITIZE=address "${cmake_flags[@]}" &&
            cmake --build build-asan -j 2 ;;
    tsan) cmake -S . -B build-tsan -DSANITIZE=thread "${cmake_flags[@]}" &&
            cmake --build build-tsan -j 2 ;;
    js) rm -rf "$mirror" &&
          mkdir -p "$mirror" &&
          cp -r binding.gyp package.json index.d.ts lib src tests scripts "$mirror/" &&
          ln -s "$root/node_modules" "$mirror/node_modules" &&
          bash "$mirror/scripts/build.sh" --sanitize=address ;;
  esac > "build-logs/build-$1.log" 2>&1
}

# native_tests NAME BUILD_DIR VAR=VALUE...: runs a build's tests under CTest with the given
# runtime options. -j 3 on two cores: each test spends most of its time waiting for its server.
native_tests() {
  local name=$1 dir=$2
  shift 2
  echo "== native tests under $name"
  rm -rf "$dir/reports"
  mkdir -p "$dir/reports"
  env "$@" ctest --test-dir "$dir" -j 3 --output-on-failure 2>&1 | tee "build-logs/ctest-$dir.log"
  count_ctest "build-logs/ctest-$dir.log"
  count_reports "$dir/reports"
}

asan_tests() {
  local reports=$root/build-asan/reports
  native_tests "ASan + UBSan" build-asan \
    "ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:fast_unwind_on_malloc=0:log_path=$reports/asan" \
    "LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0" \
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
}

tsan_tests() {
  local reports=$root/build-tsan/reports
  native_tests "TSan" build-tsan \
    "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:log_path=$reports/tsan"
}

# The JavaScript tests against the add-on built with ASan + UBSan. A sanitized Node.js would have
# to be built from source, so the stock node runs with the ASan runtime preloaded (it must come
# first in the process, before the add-on that links it is loaded). What this finds: heap and
# stack overflows, use after free and double free in the add-on and the controller as the real
# host drives them (instances collected with reports in flight, exit while shown, bad arguments,
# the dispatcher's queues), and undefined behaviour.
#
# detect_leaks=0: LeakSanitizer does not scan V8's heap, which lives in pages of its own, so
# every native object that a live JavaScript object owns at exit (each wrapped instance, its
# dispatcher) and many of V8's own blocks would be reported; suppressing those would also hide
# our leaks. Leaks of the native code are the native ASan run's task.
#
# The preload is inherited by every program the tests start (X servers, xkbcomp, openbox,
# xdotool, ImageMagick, cc). With leak checking off they only run on ASan's allocator; a report
# from one of them would still be counted.
#
# Not run here: package.test.js (packs and builds its own, plain add-on), types.test.js (only the
# TypeScript compiler) and reliability-load.test.js (its bounds on RSS and malloc'd bytes measure
# the allocator, and under ASan freed blocks sit in a 256 MiB quarantine by design). The files
# run two at a time: each starts its own servers, and most of their time is spent waiting.
js_tests() {
  local runtime reports=$root/$mirror/reports file tests=() js_pass js_fail js_cancelled
  echo "== JavaScript tests against the ASan + UBSan add-on"
  runtime=$(ldd "$mirror/build/Release/nativeUIWrapper.node" | awk '$1 ~ /^libasan/ { print $3 }')
  shopt -s nullglob
  for file in "$mirror"/tests/js/*.test.js; do
    case "${file##*/}" in
      package.test.js | types.test.js | reliability-load.test.js) ;;
      *) tests+=("${file#"$mirror"/}") ;;
    esac
  done
  shopt -u nullglob
  if [ -z "$runtime" ] || [ "${#tests[@]}" -eq 0 ]; then
    echo "no ASan runtime linked into the add-on, or no tests to run"
    failed=$((failed + 1))
    return
  fi
  rm -rf "$reports" build-logs/node-asan.tap
  mkdir -p "$reports"
  (cd "$mirror" &&
    env LD_PRELOAD="$runtime" \
      ASAN_OPTIONS="halt_on_error=1:detect_leaks=0:detect_stack_use_after_return=1:log_path=$reports/asan" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
      node --test --test-concurrency=2 \
      --test-reporter=spec --test-reporter-destination=stdout \
      --test-reporter=tap --test-reporter-destination="$root/build-logs/node-asan.tap" \
      "${tests[@]}")
  js_pass=$(grep -E '^# pass [0-9]+' build-logs/node-asan.tap | awk '{print $3}')
  js_fail=$(grep -E '^# fail [0-9]+' build-logs/node-asan.tap | awk '{print $3}')
  js_cancelled=$(grep -E '^# cancelled [0-9]+' build-logs/node-asan.tap | awk '{print $3}')
  passed=$((passed + ${js_pass:-0}))
  failed=$((failed + ${js_fail:-1} + ${js_cancelled:-0}))
  count_reports "$reports"
}

# The first build in the foreground; then each run's tests while the next run builds.
build "${runs[0]}" &
builder=$!
for i in "${!runs[@]}"; do
  run=${runs[$i]}
  wait "$builder"
  status=$?
  next=${runs[$((i + 1))]:-}
  if [ -n "$next" ]; then
    (renice -n 10 -p "$BASHPID" > /dev/null; build "$next") &
    builder=$!
  fi
  if [ "$status" -ne 0 ]; then
    echo "== $run: the build failed"
    cat "build-logs/build-$run.log"
    failed=$((failed + 1))
    continue
  fi
  "${run}_tests"
done

echo "sanitized: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
