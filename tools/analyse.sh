#!/usr/bin/env bash
# Static analysis of the sources: clang-tidy and cppcheck, then the format check.
# Takes the build folder whose compile_commands.json describes the sources.
set -euo pipefail
build=${1:?usage: tools/analyse.sh BUILD_FOLDER}
cd "$(dirname "$0")/.."

# Every source of the program that this platform compiles, as the build lists them.
mapfile -t sources < <(git ls-files 'src/*.cpp')
clang-tidy --quiet -p "$build" "${sources[@]}"
cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
  --inline-suppr --std=c++20 --language=c++ -I src "${sources[@]}"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "static analysis: clean"
