#!/usr/bin/env bash
# Starts the demo fleet of simulated servers, then the tool beside it, and
# stops the fleet when the tool exits. Meant to run inside the private
# network namespace: scripts/run.sh --demo does
#   scripts/netns.sh scripts/demo.sh TOOL [ARGS...]
# and the command-line companion of a build (BUILD_DIR, default build/) is
# tried against the same fleet with
#   scripts/netns.sh scripts/demo.sh --cli list
#   printf 'Tessaly-Demo-42\n' | scripts/netns.sh scripts/demo.sh --cli apply \
#     --login Warehouse --system Warehouse --set-port 7005
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 TOOL [ARGS...] | $0 --cli COMMAND [ARGS...]" >&2
  exit 2
fi
if [ "${TESSALY_PRIVATE_NET:-}" != "1" ]; then
  echo "$0: run me through scripts/netns.sh, so the fleet stays off the real network" >&2
  exit 2
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
fleet="${TESSALY_DEMO_FLEET:-$root/tools/peer-sim/fleets/demo.json}"
tool="$1"
shift
# The command's standard output may be JSON for another program: what this
# script says goes to standard error then.
say=1
if [ "$tool" = "--cli" ]; then
  tool="${BUILD_DIR:-$root/build}/bin/tessaly-config-cli"
  say=2
fi

work="$(mktemp -d)"
python3 "$root/tools/peer-sim/peer_sim.py" --fleet "$fleet" --quiet-discovery \
  --ready-file "$work/ready.json" --log "$work/requests.jsonl" >&"$say" &
simulator=$!
cleanup() {
  kill "$simulator" 2>/dev/null || true
  wait "$simulator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

for _ in $(seq 100); do
  [ -f "$work/ready.json" ] && break
  if ! kill -0 "$simulator" 2>/dev/null; then
    echo "$0: the simulated fleet did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -f "$work/ready.json" ]; then
  echo "$0: the simulated fleet did not become ready" >&2
  exit 1
fi

# The systems that refuse the default passwords, with the one they accept.
python3 - "$fleet" >&"$say" <<'PY'
import json, sys
servers = json.load(open(sys.argv[1], encoding="utf-8"))["servers"]
print("Demo fleet: %d servers in %d systems." % (len(servers), len({s["systemName"] for s in servers})))
secret = {}
for server in servers:
    if server.get("password", "738") not in ("738", "morvy"):
        secret.setdefault(server["systemName"], server["password"])
for system, password in sorted(secret.items()):
    print("System \"%s\" refuses the default passwords; its password is: %s" % (system, password))
PY
echo "Requests the servers receive are logged to $work/requests.jsonl while the tool runs." >&"$say"

status=0
"$tool" "$@" || status=$?
exit "$status"
