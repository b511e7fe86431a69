#!/usr/bin/env bash
# Sets up the machine, builds the station and runs every test twice: once in an
# optimised build, once under AddressSanitizer and UndefinedBehaviorSanitizer.
# Window tests need an X display; xvfb-run provides one.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

run_tests() {
  xvfb-run -a -s "-screen 0 1600x1000x24" \
    ctest --test-dir "$1" --output-on-failure --timeout 600
}

echo "== build (RelWithDebInfo)"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
run_tests build

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DSTATION_SANITIZE=ON -DSTATION_BENCHMARKS=OFF
echo "== tests under the sanitizers"
run_tests build-asan
