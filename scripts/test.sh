#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test inside a private
# network namespace. Extra arguments go to ctest (for example -R discovery).
# Without arguments, the Debian package is checked too (scripts/check-package.sh).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

# --sanitize: the whole suite again, built by clang in build-sanitize/ under
# AddressSanitizer and UndefinedBehaviorSanitizer, with a short run of every
# fuzz target (label "fuzz"); further arguments go to ctest.
if [ "${1:-}" = "--sanitize" ]; then
  shift
  . "$root/scripts/sanitizers.sh"
  "$root/scripts/setup.sh" --sanitize
  BUILD_DIR="$root/build-sanitize" "$root/scripts/build.sh" "${sanitizer_cmake_args[@]}"
  cd "$root/build-sanitize"
  # Only the tests that open windows (labels qml and app) leak inside Qt, and
  # only there do the leak suppressions need whole allocation stacks; the
  # other tests run several times faster with short ones. The screen reader
  # and keyboard runs (a11y) drive the same code as the qml tests, at the
  # speed of key events: they run in the plain suite only.
  status=0
  ASAN_OPTIONS="${ASAN_OPTIONS/fast_unwind_on_malloc=0/fast_unwind_on_malloc=1}" \
    "$root/scripts/netns.sh" ctest --output-on-failure -LE '^(qml|app|a11y)$' "$@" || status=$?
  "$root/scripts/netns.sh" ctest --output-on-failure -L '^(qml|app)$' "$@" || status=$?
  exit "$status"
fi

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

cd "$build_dir"
"$root/scripts/netns.sh" ctest --output-on-failure "$@"
if [ "$#" -eq 0 ]; then
  "$root/scripts/check-package.sh"
fi
