# libFuzzer targets: hostile bytes into the byte interface's verifier, the C++
# API's decoders, verifier and signer, and the command-line tool's argument
# parsing and file classification. Included by the top-level CMakeLists.txt
# when RINGTRAP_FUZZ is ON; needs clang with its libFuzzer runtime. The targets
# and a second copy of the library are built with coverage instrumentation,
# AddressSanitizer and UndefinedBehaviorSanitizer (every report is fatal).
# tests/fuzz/run_fuzzers.sh configures, builds and runs them.

include(CheckCXXSourceCompiles)

set(RINGTRAP_FUZZ_SANITIZERS "address,undefined")
set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer,${RINGTRAP_FUZZ_SANITIZERS}")
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
]] RINGTRAP_HAVE_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT RINGTRAP_HAVE_LIBFUZZER)
  message(WARNING "RINGTRAP_FUZZ: ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} cannot build libFuzzer "
                  "targets; configure with clang++ (and its libFuzzer runtime) to build them.")
  return()
endif()

set(RINGTRAP_FUZZ_DIR ${PROJECT_SOURCE_DIR}/tests/fuzz)
set(RINGTRAP_FUZZ_COMPILE_OPTIONS
  -fsanitize=fuzzer-no-link,${RINGTRAP_FUZZ_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)

# The library again, instrumented for coverage and the sanitizers.
add_library(ringtrap_fuzz_lib STATIC ${RINGTRAP_LIB_SOURCES})
target_include_directories(ringtrap_fuzz_lib PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(ringtrap_fuzz_lib PRIVATE ${RINGTRAP_FUZZ_COMPILE_OPTIONS})
target_compile_definitions(ringtrap_fuzz_lib PRIVATE RINGTRAP_VERSION_STRING="${PROJECT_VERSION}")
target_link_libraries(ringtrap_fuzz_lib PRIVATE ringtrap_flags ringtrap_src_flags)

set(RINGTRAP_FUZZ_TARGETS sig_verf api_verify api_sign cli)
set(RINGTRAP_FUZZ_EXECUTABLES)
foreach(target ${RINGTRAP_FUZZ_TARGETS})
  # The argument parser is program code, outside the library.
  add_executable(fuzz_${target} ${RINGTRAP_FUZZ_DIR}/fuzz_${target}.cpp ${RINGTRAP_TOOL_ARGS_SOURCE})
  target_include_directories(fuzz_${target} PRIVATE ${RINGTRAP_FUZZ_DIR})
  target_compile_options(fuzz_${target} PRIVATE ${RINGTRAP_FUZZ_COMPILE_OPTIONS})
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,${RINGTRAP_FUZZ_SANITIZERS})
  target_link_libraries(fuzz_${target} PRIVATE ringtrap_fuzz_lib ringtrap_flags)
  list(APPEND RINGTRAP_FUZZ_EXECUTABLES fuzz_${target})
endforeach()
add_custom_target(fuzz_targets DEPENDS ${RINGTRAP_FUZZ_EXECUTABLES})

# Writes the committed seed corpus (tests/fuzz/corpus); plain build, no fuzzer.
add_executable(ringtrap_fuzz_seeds ${RINGTRAP_FUZZ_DIR}/make_seeds.cpp)
target_include_directories(ringtrap_fuzz_seeds PRIVATE ${RINGTRAP_FUZZ_DIR})
target_link_libraries(ringtrap_fuzz_seeds PRIVATE ringtrap_internal ringtrap_flags)
