#!/usr/bin/env bash
# The sanitized runs, the second test command beside scripts/test.sh (.ci/run runs both):
#
#   1. the native tests under AddressSanitizer + UndefinedBehaviorSanitizer  (build-asan/)
#   2. the native tests under ThreadSanitizer                                 (build-tsan/)
#   3. the JavaScript tests against an ASan + UBSan build of the add-on       (build-asan-node/)
#
#   bash scripts/test-sanitized.sh [asan] [tsan] [js]     (default: all three)
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
# Ends with one summary line: "sanitized: N passed, M failed".
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
bash scripts/setup.sh || exit 1

runs=${*:-asan tsan js}
unset DISPLAY  # every test names its own server
mkdir -p build-logs
supp=$root/tests/sanitizers
passed=0
failed=0

# -O1 and line tables only: the tests wait on X round trips, not on the CPU, and compiling with
# full optimisation and debug information would take most of the CI's time. Line tables are
# all the reports need for file:line frames. NDEBUG stays off so that asserts run too.
cmake_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1")

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

# native_run NAME BUILD_DIR SANITIZE VAR=VALUE...: builds the native tests with -DSANITIZE and
# runs them under CTest with the given runtime options.
native_run() {
  local name=$1 dir=$2 sanitizer=$3
  shift 3
  echo "== native tests under $name"
  if ! { cmake -S . -B "$dir" -DSANITIZE="$sanitizer" "${cmake_flags[@]}" &&
         cmake --build "$dir" -j 2; } > "build-logs/$dir.log" 2>&1; then
    cat "build-logs/$dir.log"
    failed=$((failed + 1))
    return
  fi
  rm -rf "$dir/reports"
  mkdir -p "$dir/reports"
  env "$@" ctest --test-dir "$dir" -j 2 --output-on-failure 2>&1 | tee "build-logs/ctest-$dir.log"
  count_ctest "build-logs/ctest-$dir.log"
  count_reports "$dir/reports"
}

asan_run() {
  local reports=$root/build-asan/reports
  native_run "ASan + UBSan" build-asan address \
    "ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:fast_unwind_on_malloc=0:log_path=$reports/asan" \
    "LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0" \
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
}

tsan_run() {
  local reports=$root/build-tsan/reports
  native_run "TSan" build-tsan thread \
    "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:log_path=$reports/tsan"
}

# The JavaScript tests against the add-on built with ASan + UBSan. A sanitized Node.js would have
# to be built from source, so the stock node runs with the ASan runtime preloaded (it must come
# first in the process, before the add-on that links it is loaded). What this finds: heap and
# stack overflows, use after free and double free in the add-on and the controller as the real
# host drives them (instances collected with reports in flight, exit while shown, the
# dispatcher's queues), and undefined behaviour.
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
# The tree is copied to build-asan-node/ so that build/ (the plain build, which others use
# while this runs) is left alone; the tests find the add-on relative to their own directory.
# Not run here: package.test.js (packs and builds its own, plain add-on), types.test.js (only the
# TypeScript compiler) and reliability-load.test.js (its bounds on RSS and malloc'd bytes measure
# the allocator, and under ASan freed blocks sit in a 256 MiB quarantine by design).
js_run() {
  local mirror=build-asan-node runtime reports file js_tests js_pass js_fail js_cancelled
  echo "== JavaScript tests against the ASan + UBSan add-on"
  rm -rf "$mirror"
  mkdir -p "$mirror"
  cp -r binding.gyp package.json index.d.ts lib src tests scripts "$mirror/"
  ln -s "$root/node_modules" "$mirror/node_modules"
  if ! bash "$mirror/scripts/build.sh" --sanitize=address > build-logs/addon-asan.log 2>&1; then
    cat build-logs/addon-asan.log
    failed=$((failed + 1))
  else
    runtime=$(ldd "$mirror/build/Release/nativeUIWrapper.node" | awk '$1 ~ /^libasan/ { print $3 }')
    reports=$root/$mirror/reports
    mkdir -p "$reports"
    rm -f build-logs/node-asan.tap
    shopt -s nullglob
    js_tests=()
    for file in "$mirror"/tests/js/*.test.js; do
      case "${file##*/}" in
        package.test.js | types.test.js | reliability-load.test.js) ;;
        *) js_tests+=("${file#"$mirror"/}") ;;
      esac
    done
    shopt -u nullglob
    if [ -z "$runtime" ] || [ "${#js_tests[@]}" -eq 0 ]; then
      echo "no ASan runtime linked into the add-on, or no tests to run"
      failed=$((failed + 1))
    else
      (cd "$mirror" &&
        env LD_PRELOAD="$runtime" \
          ASAN_OPTIONS="halt_on_error=1:detect_leaks=0:log_path=$reports/asan" \
          UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
          node --test --test-reporter=spec --test-reporter-destination=stdout \
          --test-reporter=tap --test-reporter-destination="$root/build-logs/node-asan.tap" \
          "${js_tests[@]}")
      js_pass=$(grep -E '^# pass [0-9]+' build-logs/node-asan.tap | awk '{print $3}')
      js_fail=$(grep -E '^# fail [0-9]+' build-logs/node-asan.tap | awk '{print $3}')
      js_cancelled=$(grep -E '^# cancelled [0-9]+' build-logs/node-asan.tap | awk '{print $3}')
      passed=$((passed + ${js_pass:-0}))
      failed=$((failed + ${js_fail:-1} + ${js_cancelled:-0}))
      count_reports "$reports"
    fi
  fi
}

for run in $runs; do
  case "$run" in
    asan) asan_run ;;
    tsan) tsan_run ;;
    js) js_run ;;
    *) echo "unknown run '$run' (asan, tsan or js)"; failed=$((failed + 1)) ;;
  esac
done

echo "sanitized: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
