#!/usr/bin/env bash
# The whole test suite: set-up, the add-on build, the native tests (GoogleTest under CTest) and
# the JavaScript tests (node --test), each against private X servers that the tests start and
# stop themselves. Ends with one summary line: "total: N passed, M failed".
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh tests || exit 1

unset DISPLAY  # every test names its own server
mkdir -p build-logs
passed=0
failed=0

echo "== building the add-on"
if ! bash scripts/build.sh > build-logs/addon.log 2>&1; then
  cat build-logs/addon.log
  echo "total: 0 passed, 1 failed"
  exit 1
fi

echo "== native tests"
if cmake -S . -B build-native -DCMAKE_BUILD_TYPE=RelWithDebInfo > build-logs/cmake.log 2>&1 &&
   cmake --build build-native -j 2 >> build-logs/cmake.log 2>&1; then
  ctest --test-dir build-native -j 2 --output-on-failure 2>&1 | tee build-logs/ctest.log
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' build-logs/ctest.log | tail -1)
  if [ -n "$summary" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
  fi
else
  cat build-logs/cmake.log
  failed=$((failed + 1))
fi

shopt -s nullglob
js_tests=(tests/js/*.test.js)
if [ "${#js_tests[@]}" -gt 0 ]; then
  echo "== JavaScript tests"
  node --test --test-reporter=spec --test-reporter-destination=stdout \
    --test-reporter=tap --test-reporter-destination=build-logs/node.tap "${js_tests[@]}"
  js_pass=$(grep -E '^# pass [0-9]+' build-logs/node.tap | awk '{print $3}')
  js_fail=$(grep -E '^# fail [0-9]+' build-logs/node.tap | awk '{print $3}')
  passed=$((passed + ${js_pass:-0}))
  failed=$((failed + ${js_fail:-1}))
fi

echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
