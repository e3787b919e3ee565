#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, ASan, UBSan)
# and runs them, each on a copy of its seed corpus in build-fuzz/corpus/<target>
# (what libFuzzer finds is added there, the seeds stay as they are).
# Usage: scripts/fuzz.sh [TARGET|all] [seconds]   (default: all, 600 s each)
# Targets: mbus reply hex_command dotted_address table_files settings_file
#          sim_files gateway_status
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang libclang-rt-14-dev
grep -v "^#" scripts/packages.txt | xargs scripts/deps.sh >&2

which=${1:-all}
seconds=${2:-600}
if [[ $which =~ ^[0-9]+$ ]]; then  # the older form: scripts/fuzz.sh SECONDS
  seconds=$which
  which=all
fi
out=build-fuzz
corpus=tests/fuzz/corpus
if [ "$which" = all ]; then
  targets=$(ls "$corpus")
elif [ -d "$corpus/$which" ]; then
  targets=$which
else
  echo "unknown fuzz target: $which (one of: $(ls "$corpus" | tr '\n' ' ')or all)" >&2
  exit 2
fi

# The whole tool's libraries are compiled with coverage instrumentation and
# the sanitizers; only the fuzz binaries link libFuzzer's main.
cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=fuzzer-no-link" -DTARNEL_SANITIZE=ON \
  -DTARNEL_LIBFUZZER=ON >/dev/null
binaries=()
for target in $targets; do binaries+=("${target}_fuzzer"); done
cmake --build "$out/cmake" -j "$(nproc)" --target "${binaries[@]}"

# The targets that read files write each input to a temporary folder: keep
# it in memory where that can be done (the settings file is synced to disk
# on every write).
if [ -w /dev/shm ]; then
  TMPDIR=$(mktemp -d /dev/shm/tarnel-fuzz.XXXXXX)
  export TMPDIR
  trap 'rm -rf "$TMPDIR"' EXIT
fi

failed=()
for target in $targets; do
  mkdir -p "$out/corpus/$target"
  cp -n "$corpus/$target"/* "$out/corpus/$target/" 2>/dev/null || true
  echo "=== $target: ${seconds} s"
  # A finding is written as crash-*/leak-*/timeout-* into the artifact folder.
  mkdir -p "$out/artifacts/$target"
  "$out/cmake/${target}_fuzzer" -max_total_time="$seconds" -max_len=1024 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$out/artifacts/$target/" "$out/corpus/$target" ||
    failed+=("$target")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]} (inputs in $out/artifacts/)" >&2
  exit 1
fi
