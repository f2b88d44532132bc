#!/usr/bin/env bash
# Installs what is missing, builds the release tool with the benchmarks, and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh --test
cmake --preset bench
cmake --build --preset bench
/usr/bin/python3 bench/run_bench.py build/bench/varnholt build/bench/bench/least_work \
  build/bench/bench/translate_bench
