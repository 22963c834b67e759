#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan and UBSan) and runs each for
# a number of inputs (default 10 million), one after the other, from its seed
# corpus. New inputs go to build/fuzz/corpus/TARGET; a finding stops the run
# and its reproducer is left in build/fuzz/findings. Usage:
#   scripts/fuzz.sh [RUNS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-10000000}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(setup_file motor_file program_image engine scope_frame scope_settings)

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"
export QT_QPA_PLATFORM=offscreen
mkdir -p build/fuzz/findings
for target in "${targets[@]}"; do
  corpus="build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target: $runs inputs"
  start=$(date +%s)
  "build/fuzz/fuzz/fuzz_$target" -runs="$runs" -timeout=10 -rss_limit_mb=4096 -max_len=40000 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/findings/$target-" "$corpus" "fuzz/corpus/$target" 2>&1 |
    grep -E "^(stat::|Done|==|SUMMARY|artifact)" || true
  echo "== $target: $(( $(date +%s) - start )) s"
done
