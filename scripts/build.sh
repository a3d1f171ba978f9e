#!/usr/bin/env bash
# Configures (once) and builds the tool and its tests into BUILD_DIR
# (default: build/ in the checkout). Builds on this machine are serialised
# through a lock, so that two checkouts never compile at once.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
jobs="${JOBS:-2}"

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

export CCACHE_BASEDIR="${CCACHE_BASEDIR:-/work}"
lock="${TESSALY_BUILD_LOCK:-/tmp/tessaly-build.lock}"
(
  flock 9
  if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build_dir" "${launcher[@]}" "$@"
  fi
  cmake --build "$build_dir" -j "$jobs"
) 9>"$lock"
