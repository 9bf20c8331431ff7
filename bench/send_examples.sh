#!/usr/bin/env bash
# Sends every example project to a virtual card paced at 57600 baud and compares the time
# with the wire time of the bytes that crossed the line (10 bits a byte, both directions).
#   bench/send_examples.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
baud=57600
work=$(mktemp -d /tmp/marquix-bench.XXXXXX)
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/marquix-sim" --link "$work/card" --baud $baud --log "$work/log.jsonl" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -e "$work/card" ] && break; sleep 0.1; done
cli="$build/marquix-cli"
printf '%-22s %8s %8s %10s %10s %8s\n' project packets bytes "time (s)" "wire (s)" over
for p in "$build"/examples/*.lcm; do
  "$cli" params write --project "$p" --device "$work/card" >/dev/null
  "$cli" partitions write --project "$p" --device "$work/card" >/dev/null
  : >"$work/log.jsonl"
  start=$(date +%s.%N)
  "$cli" send "$p" --device "$work/card" >"$work/send.out"
  end=$(date +%s.%N)
  # Every byte in and out of the card during the send, from the card's own log.
  read -r packets bytes < <(python3 - "$work/log.jsonl" <<'PY'
import json, sys
n = b = 0
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e.get("dir") in ("in", "out"):
        b += len(bytes.fromhex(e["hex"].replace(" ", "")))
        n += e.get("dir") == "in"
print(n, b)
PY
)
  python3 - "$(basename "$p")" "$packets" "$bytes" "$start" "$end" $baud <<'PY'
import sys
name, packets, nbytes, start, end, baud = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6])
t = end - start
wire = nbytes * 10 / baud
print(f"{name:22s} {packets:8d} {nbytes:8d} {t:10.3f} {wire:10.3f} {100*(t-wire)/wire:7.1f}%")
PY
done
