#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# the given time or number of inputs, one after the other, inside a private
# network namespace.
#   scripts/fuzz.sh [SECONDS | --runs N] [TARGET...]
#                                default: 60 seconds, every target
# New inputs go to build-fuzz/fuzz/found/TARGET/; a crash leaves its input in
# build-fuzz/fuzz/ (crash-*, leak-*, timeout-*) and stops the script.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
limit=(-max_total_time=60)
if [ "$#" -gt 1 ] && [ "$1" = "--runs" ]; then
  limit=(-runs="$2")
  shift 2
elif [ "$#" -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  limit=(-max_total_time="$1")
  shift
fi

. "$root/scripts/sanitizers.sh"
# The targets allocate little inside Qt: quick stacks, many more runs.
export ASAN_OPTIONS="${ASAN_OPTIONS/fast_unwind_on_malloc=0/fast_unwind_on_malloc=1}"
"$root/scripts/setup.sh" --sanitize
BUILD_DIR="$build_dir" "$root/scripts/build.sh" "${sanitizer_cmake_args[@]}" -DTESSALY_BUILD_TESTS=OFF

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for options in "$build_dir"/fuzz/*.options; do
    targets+=("$(basename "$options" .options)")
  done
fi

cd "$build_dir/fuzz"
for target in "${targets[@]}"; do
  if [ ! -f "$target.options" ]; then
    echo "$0: no fuzz target $target" >&2
    exit 2
  fi
  read -r -a options < "$target.options"
  echo "== $target: ${limit[*]}"
  "$root/scripts/netns.sh" "$build_dir/bin/$target" "${options[@]}" "${limit[@]}" \
    -print_final_stats=1 "found/$target" "$root/fuzz/corpus/$target"
done
