# Instrumented builds. VURO_SANITIZE builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; VURO_FUZZ builds everything with libFuzzer's coverage on top of them,
# so that the fuzz targets under fuzz/ see the logic's branches. Included before any target is
# defined, so that every target, GoogleTest included, is built the same way.
option(VURO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VURO_FUZZ "Build the libFuzzer targets under fuzz/ (clang only)" OFF)

set(VURO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)

if(VURO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VURO_FUZZ needs clang++ (libFuzzer), not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  add_compile_options(${VURO_SANITIZER_FLAGS} -fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=address,undefined)
elseif(VURO_SANITIZE)
  add_compile_options(${VURO_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()
