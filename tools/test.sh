#!/usr/bin/env bash
# Installs what is missing, then configures, builds and tests every preset that has tests:
# the same workflows a contributor can run one at a time (cmake --workflow --preset NAME).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh --test

for preset in native asan windows fuzz; do
  cmake --workflow --preset "$preset"
done
