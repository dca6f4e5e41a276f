# Sanitized native builds. Included by the top-level CMakeLists before any target.
#
# VEXA_SANITIZE: AddressSanitizer + UndefinedBehaviorSanitizer for the unit tests and the
#   replay of the fuzz corpora (build/asan). Any report aborts the process, so a test
#   that trips one fails: nothing is allowed to recover and carry on.
# VEXA_FUZZ: the same sanitizers with clang's libFuzzer coverage, for the fuzz targets
#   (configure with CMAKE_CXX_COMPILER=clang++; see fuzz/).

option(VEXA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VEXA_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)

if(VEXA_SANITIZE OR VEXA_FUZZ)
  if(WIN32)
    message(FATAL_ERROR "The sanitizers are for the native build only")
  endif()
  set(vexa_sanitizer_flags
    -fsanitize=address,undefined
    -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  if(VEXA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      message(FATAL_ERROR "VEXA_FUZZ needs clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage for every library the targets link; only the targets get libFuzzer's main.
    # -O1: a fuzzer's worth is its executions per second. (The unit tests stay at -O0,
    # which halves the sanitized build's compile time.)
    list(APPEND vexa_sanitizer_flags -fsanitize=fuzzer-no-link -O1)
  endif()
  add_compile_options(${vexa_sanitizer_flags})
  add_link_options(-fsanitize=address,undefined)
endif()
