#!/usr/bin/env bash
# Installs what is missing, then configures and builds Tarnel.
# Usage: scripts/build.sh [plain|asan|tsan]   (build folders build, build-asan, build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."

grep -v "^#" scripts/packages.txt | xargs scripts/deps.sh >&2

flavour=${1:-plain}
case "$flavour" in
  plain) dir=build; extra=() ;;
  asan) dir=build-asan; extra=(-DTARNEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan) dir=build-tsan; extra=(-DTARNEL_TSAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "unknown build flavour: $flavour (plain, asan or tsan)" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -G Ninja -DTARNEL_WERROR=ON "${extra[@]}" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
