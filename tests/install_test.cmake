# Installs this build into a scratch prefix and builds consumers against it
# through the CMake package and through pkg-config (tests/install/).
include(GNUInstallDirs)
find_program(RINGTRAP_BASH bash)
if(RINGTRAP_BASH)
  add_test(NAME install_consumers
    COMMAND ${RINGTRAP_BASH} ${PROJECT_SOURCE_DIR}/tests/install/run_install_test.sh
      ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/install-test
      $<CONFIG> ${PROJECT_VERSION} ${CMAKE_INSTALL_LIBDIR})
  # The consumers are built with this build's compilers and flags, so that a
  # sanitizer build's library links (its runtime flags come from the package).
  set_tests_properties(install_consumers PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 300
    ENVIRONMENT "CC=${CMAKE_C_COMPILER};CXX=${CMAKE_CXX_COMPILER};CFLAGS=${CMAKE_C_FLAGS};CXXFLAGS=${CMAKE_CXX_FLAGS};CMAKE_GENERATOR=${CMAKE_GENERATOR}")
endif()
