#!/usr/bin/env bash
# Static analysis of the sources: clang-tidy and cppcheck, then the format check; and of
# every shell script, with shellcheck.
# Takes the build folder whose compile_commands.json describes the sources, so that it
# works as well in an unpacked source archive as in a checkout.
set -euo pipefail
build=$(realpath "${1:?usage: tools/analyse.sh BUILD_FOLDER}")
cd "$(dirname "$0")/.."

# Every source of the program that this platform compiles, as the build lists them.
mapfile -t sources < <(/usr/bin/python3 - "$build/compile_commands.json" <<'PYTHON'
import json, os, sys
with open(sys.argv[1], encoding="utf-8") as commands:
    files = {os.path.relpath(entry["file"]) for entry in json.load(commands)}
print("\n".join(sorted(name for name in files if name.startswith("src/"))))
PYTHON
)
# clang-tidy counts the warnings it found in system headers and then suppressed; only its
# findings in our sources are worth showing.
clang-tidy --quiet -p "$build" "${sources[@]}" 2> >(grep -v '^[0-9]* warnings\? generated\.$' >&2)
cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
  --inline-suppr --std=c++20 --language=c++ -I src "${sources[@]}"
find src tests bench -name '*.cpp' -o -name '*.h' | sort | xargs clang-format --dry-run --Werror
mapfile -t scripts < <(find tools tests .ci -type f \( -name '*.sh' -o -path .ci/run \) | sort)
shellcheck "${scripts[@]}"
echo "static analysis: clean (${#sources[@]} program sources, ${#scripts[@]} shell scripts)"
