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

export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Leaks wholly inside Qt or system libraries only; each entry says why.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
