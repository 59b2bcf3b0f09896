# The Python package's tests (python/tests) on this build's shared library.
#
# They import a copy of the package's sources made in the build tree, with no
# library beside it, so that RINGTRAP_LIBRARY decides: a library that
# `make python` left next to the sources never stands in for this build's.
find_program(RINGTRAP_PYTHON3 python3)
if(NOT RINGTRAP_PYTHON3)
  message(STATUS "python3 not found: the Python package's tests are left out")
  return()
endif()

file(GLOB _ringtrap_py_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/python/ringtrap/*.py ${PROJECT_SOURCE_DIR}/python/ringtrap/py.typed)
set(_ringtrap_py_dir ${CMAKE_BINARY_DIR}/python/ringtrap)
add_custom_command(OUTPUT ${_ringtrap_py_dir}/.copied
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_ringtrap_py_dir}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_ringtrap_py_sources} ${_ringtrap_py_dir}
  COMMAND ${CMAKE_COMMAND} -E touch ${_ringtrap_py_dir}/.copied
  DEPENDS ${_ringtrap_py_sources}
  COMMENT "Copying the Python package into the build tree")
add_custom_target(ringtrap_python_package ALL DEPENDS ${_ringtrap_py_dir}/.copied)

set(_ringtrap_py_env
  PYTHONPATH=${CMAKE_BINARY_DIR}/python
  RINGTRAP_LIBRARY=$<TARGET_FILE:ringtrap_shared>
  RINGTRAP_EXPECTED_VERSION=${PROJECT_VERSION})
# A sanitizer build's library needs the sanitizer's runtime in the process
# before it is loaded; the interpreter itself is not instrumented (and leaks
# by design, so leak checking is off).
if(RINGTRAP_SANITIZE MATCHES "address")
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(_ringtrap_asan_runtime libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so)
  else()
    set(_ringtrap_asan_runtime libasan.so)
  endif()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_ringtrap_asan_runtime}
    OUTPUT_VARIABLE _ringtrap_asan_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND _ringtrap_py_env LD_PRELOAD=${_ringtrap_asan_path} ASAN_OPTIONS=detect_leaks=0)
elseif(RINGTRAP_SANITIZE)
  message(STATUS "RINGTRAP_SANITIZE=${RINGTRAP_SANITIZE}: the Python package's tests are left out")
  return()
endif()

add_test(NAME python_package
  COMMAND ${RINGTRAP_PYTHON3} -B -m unittest discover -s ${PROJECT_SOURCE_DIR}/python/tests)
set_tests_properties(python_package PROPERTIES ENVIRONMENT "${_ringtrap_py_env}" TIMEOUT 300)
