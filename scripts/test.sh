#!/usr/bin/env bash
# Installs what is missing, builds both programs and runs every test of both
# builds: store, widget and start-up tests, the whole-program checks under
# Xvfb, the fault loop and the Debian packages; first the store, start-up and
# widget tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bash "$here/scripts/setup.sh"

# Both builds compile a batch of sources at a time: Qt's headers, parsed once
# a batch, are most of each compile. (Without CMAKE_UNITY_BUILD, as
# developers build, each source is compiled on its own.)
echo "== Sanitizer build (tavlo, Qt 6) =="
cmake -S "$here" -B "$here/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DTAVLO_SANITIZE=ON \
      -DTAVLO_BUILD_CLASSIC=OFF -DTAVLO_BUILD_BENCH=OFF -DCMAKE_UNITY_BUILD=ON > /dev/null
cmake --build "$here/build-sanitize" -j2
# Its tests mostly wait (for another program's lock, for the file's watch):
# they run while the other build compiles, which yields the cores to them.
sanitized="$here/build-sanitize/ctest.log"
(cd "$here/build-sanitize" &&
 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
 LSAN_OPTIONS=suppressions="$here/tests/lsan.supp" \
 ctest -j2 --output-on-failure --timeout 600 > "$sanitized" 2>&1) &
sanitizer_tests=$!
trap 'kill "$sanitizer_tests" 2>/dev/null || true' EXIT

echo "== Both builds =="
# The benchmarks are built and run by bench/run_bench.py, not here.
nice -n 10 cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_UNITY_BUILD=ON \
      -DTAVLO_BUILD_BENCH=OFF
nice -n 10 cmake --build "$here/build" -j2
status=0
wait "$sanitizer_tests" || status=$?
echo "== Sanitizer tests =="
cat "$sanitized"
[ "$status" -eq 0 ] || exit "$status"

echo "== Tests of both builds =="
cd "$here/build"
# Two at a time: the whole-program suites take turns, then the package
# build, in one slot; the fault loops, the fuzzer and the unit tests in the
# other, the first two at a lower priority.
ctest -j2 --output-on-failure --timeout 600
