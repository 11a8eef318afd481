#!/usr/bin/env bash
# Installs what is missing, builds both programs and starts tavlo. Its agenda
# file, tavlo.txt, is kept beside the executable in build/.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bash "$here/scripts/setup.sh"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$here/build" -j2 --target tavlo tavlo_classic
exec "$here/build/tavlo"
