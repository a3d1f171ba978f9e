#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool.
#   scripts/run.sh          the tool on this machine's network
#   scripts/run.sh --demo   the tool against the simulated demo fleet, in a
#                           private network namespace
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

demo=0
if [ "${1:-}" = "--demo" ]; then
  demo=1
  shift
fi

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

tool="$build_dir/bin/tessaly-config-tool"
if [ "$demo" -eq 0 ]; then
  exec "$tool" "$@"
fi

exec "$root/scripts/netns.sh" "$root/scripts/demo.sh" "$tool" "$@"
