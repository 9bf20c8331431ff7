#!/usr/bin/env bash
# Sends every example project to a virtual card paced at 57600 baud and compares the send's
# own time (as the CLI's summary gives it: connection, download marks, pages) with the limit
# the line and the protocol set: 10 bits a byte of every packet and reply, plus the 20 ms the
# tool waits after each good reply and the 10 ms between pages.
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
printf '%-22s %8s %8s %10s %10s %10s %8s\n' project packets bytes "time (s)" "wire (s)" "limit (s)" over
for p in "$build"/examples/*.lcm; do
  "$cli" params write --project "$p" --device "$work/card" >/dev/null
  "$cli" partitions write --project "$p" --device "$work/card" >/dev/null
  : >"$work/log.jsonl"
  "$cli" send "$p" --device "$work/card" >"$work/send.out"
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
  summary=$(grep -E '^[0-9]+ page\(s\)' "$work/send.out")
  pages=$(sed -E 's/^([0-9]+) page.*/\1/' <<<"$summary")
  seconds=$(sed -E 's/.* in ([0-9.]+) s$/\1/' <<<"$summary")
  python3 - "$(basename "$p")" "$packets" "$bytes" "$seconds" "$pages" $baud <<'PY'
import sys
name, packets, nbytes, t, pages, baud = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
wire = nbytes * 10 / baud
limit = wire + 0.020 * packets + 0.010 * pages
print(f"{name:22s} {packets:8d} {nbytes:8d} {t:10.3f} {wire:10.3f} {limit:10.3f} {100*(t-limit)/limit:7.1f}%")
PY
done
