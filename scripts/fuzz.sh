#!/usr/bin/env bash
# Builds the M-Bus decoding fuzzer with clang (libFuzzer, ASan, UBSan) and
# runs it. Usage: scripts/fuzz.sh [seconds]   (default 600)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang libclang-rt-14-dev

seconds=${1:-600}
out=build-fuzz
mkdir -p "$out/corpus"
cp -n tests/fuzz/corpus/* "$out/corpus/" 2>/dev/null || true
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Isrc tests/fuzz/mbus_fuzzer.cpp src/base/hex_text.cpp src/mbus/data_records.cpp \
  src/mbus/device_entry.cpp src/mbus/telegram_decoder.cpp src/mbus/value_format.cpp \
  src/mbus/vif_tables.cpp -o "$out/mbus_fuzzer"
"$out/mbus_fuzzer" -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$out/corpus"
