#!/usr/bin/env bash
# Runs the unmodified tool for a while beside a small simulated fleet and
# reports, from the fleet's request log, what the tool sent to the group.
#   scripts/netns.sh bench/discovery/tool_requests.sh [TOOL] [SECONDS]
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
tool="${1:-$root/build/bin/tessaly-config-tool}"
seconds="${2:-9}"

if [ "${TESSALY_PRIVATE_NET:-}" != "1" ]; then
  echo "run inside scripts/netns.sh" >&2
  exit 2
fi

work="$(mktemp -d)"
trap 'kill "$sim" "$app" 2>/dev/null || true; rm -rf "$work"' EXIT

python3 "$root/tools/peer-sim/peer_sim.py" --generate 5 --systems 2 --no-http \
  --ready-file "$work/ready" --log "$work/log" &
sim=$!
for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.1; done

QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software "$tool" >"$work/tool.out" 2>&1 &
app=$!
sleep "$seconds"
kill "$app"
wait "$app" 2>/dev/null || true

python3 - "$work/log" <<'PY'
import json, sys
entries = [json.loads(line) for line in open(sys.argv[1])]
requests = [e for e in entries if e.get("kind") == "discovery"]
by_source = {}
for e in requests:
    by_source.setdefault(e["from"].split(":")[0], []).append(e)
for source, items in sorted(by_source.items()):
    times = [e["time"] for e in items]
    gaps = ["%.0f" % ((b - a) * 1000) for a, b in zip(times, times[1:])]
    print("from %s: %d requests, sizes %s, exact request: %s, answers per request: %s, gaps ms: %s"
          % (source, len(items), sorted({e["size"] for e in items}), all(e["exact"] for e in items),
             sorted({e["answers"] for e in items}), " ".join(gaps)))
if not requests:
    print("no request heard")
    sys.exit(1)
PY
