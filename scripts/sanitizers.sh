# Sourced by scripts/test.sh --sanitize and scripts/fuzz.sh (after they set
# $root): how the sanitizer builds are configured and how the sanitizers
# report at run time.

# Clang with AddressSanitizer and UndefinedBehaviorSanitizer; undefined
# behaviour stops the program. The library is instrumented for libFuzzer too,
# so one build serves the suite and the fuzz targets.
sanitizer_flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link -fno-omit-frame-pointer"
sanitizer_cmake_args=(
  -DCMAKE_CXX_COMPILER=clang++
  "-DCMAKE_CXX_FLAGS=$sanitizer_flags"
  -DTESSALY_BUILD_FUZZ=ON
  -DTESSALY_BUILD_BENCH=OFF
)

# Allocation stacks are unwound through Qt's libraries too (they have no
# frame pointers), ten frames deep, so that the leak suppressions can tell
# Qt's own leaks from the tool's; scripts/fuzz.sh trades that for speed.
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:fast_unwind_on_malloc=0:malloc_context_size=10"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Leaks wholly inside Qt or system libraries only; each entry says why.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
