#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it for a bounded time: first
# every stored input (each once broke it, or seeds it), then new ones.
# Usage: run_fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
seconds="$2"
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j2 > /dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$here"/corpus/* "$work"/
cd "$build"
./fuzz_profile "$here"/corpus/*
./fuzz_profile -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$work" 2>&1 | tail -n 12
