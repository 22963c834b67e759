#!/usr/bin/env bash
# Counts the scalar floating-point instructions that one register and
# parameter pass executes on the reference setup (libm included), the
# arithmetic half of the pass's floor in bench/EngineBench.cpp. Runs the
# release benchmark under callgrind, collecting inside the two passes only,
# and sums the executed instructions whose mnemonic is a double-precision
# operation (moves and shuffles excluded). Needs valgrind and objdump.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "valgrind is needed" >&2; exit 1; }
cmake --preset release >/dev/null
cmake --build --preset release --target bench_engine
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --dump-instr=yes --compress-pos=no --compress-strings=no \
  --callgrind-out-file="$out" \
  --toggle-collect='ComputeRegistersFromParameters*' --toggle-collect='ComputeParametersFromRegisters*' \
  ./build/release/bench/bench_engine --benchmark_filter='BM_RegisterAndParameterPasses' \
  --benchmark_min_time=0.000001 >/dev/null 2>&1
python3 - "$out" <<'PY'
import collections, re, subprocess, sys

executed = collections.defaultdict(collections.Counter)  # object -> address -> count
passes = 0
obj, callee, after_call = None, None, False
for line in open(sys.argv[1]):
    if line.startswith("ob="):
        obj = line[3:].strip()
    elif line.startswith("cfn="):
        callee = line[4:].strip()
    elif line.startswith("calls="):
        if callee.startswith("ComputeRegistersFromParameters("):
            passes += int(line.split()[0][6:])
        after_call = True
    elif line.startswith("0x"):
        if after_call:
            after_call = False
            continue
        fields = line.split()
        executed[obj][int(fields[0], 16)] += int(fields[-1])

NOT_ARITHMETIC = re.compile(r"^v?(mov|unpck|shuf|blend|perm|broadcast|maskmov)")
def is_arithmetic(op):
    if NOT_ARITHMETIC.match(op):
        return False
    return op.endswith(("sd", "pd")) or (op.startswith(("cvt", "vcvt")) and "sd" in op)

total = 0
for obj, counts in executed.items():
    listing = subprocess.run(["objdump", "-d", "--no-show-raw-insn", obj],
                             capture_output=True, text=True).stdout
    mnemonic = {}
    for row in listing.splitlines():
        m = re.match(r"\s*([0-9a-f]+):\s+(\S+)", row)
        if m:
            mnemonic[int(m.group(1), 16)] = m.group(2)
    total += sum(n for address, n in counts.items() if is_arithmetic(mnemonic.get(address, "")))
if passes == 0:
    sys.exit("no pass was recorded")
print(f"{passes} passes, {total / passes:.0f} floating-point instructions per pass")
PY
