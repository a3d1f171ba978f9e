#!/usr/bin/env bash
# Runs a command in a fresh private network namespace whose loopback carries
# multicast, so that nothing the tool or its tests send leaves the machine.
#   scripts/netns.sh COMMAND [ARGS...]
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

if [ "${TESSALY_NETNS_INSIDE:-}" != "1" ]; then
  export TESSALY_NETNS_INSIDE=1
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net -- "$0" "$@"
  else
    exec unshare --map-root-user --net -- "$0" "$@"
  fi
fi

ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo 2>/dev/null || true
export TESSALY_PRIVATE_NET=1
exec "$@"
