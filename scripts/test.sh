#!/usr/bin/env bash
# Installs what is missing, builds both programs and runs every test of both
# builds: store, widget and start-up tests, the whole-program checks under
# Xvfb, and a short fuzzing run.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bash "$here/scripts/setup.sh"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$here/build" -j2
cd "$here/build"
ctest -j2 --output-on-failure --timeout 600
