# Installation: the library (static and shared, or shared only with
# BUILD_SHARED_LIBS), its two public headers, the command-line program with its
# manual page and bash completion, a CMake package (find_package(ringtrap
# CONFIG) gives ringtrap::ringtrap and ringtrap::shared) and a pkg-config file.
#
# Consumers put <prefix>/include/ringtrap on the include path and write
# #include <ringtrap.h> or #include <sig_api.h>: the same spelling as inside
# this tree, so code moves between an in-tree build and an installed package
# unchanged. The CMake package and ringtrap.pc both give that directory.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RINGTRAP_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/ringtrap)
set(RINGTRAP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ringtrap)
# Only these two headers form the interface; both include nothing but standard
# headers, so nothing else from src/ is installed.
set(RINGTRAP_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/src/ringtrap.h ${PROJECT_SOURCE_DIR}/src/sig_api.h)

get_target_property(_ringtrap_type ringtrap TYPE)
# The libraries to install: `ringtrap`, and `ringtrap_shared` when it is a
# library of its own (CMakeLists.txt).
set(_ringtrap_libraries ringtrap)
if(NOT _ringtrap_shared_target STREQUAL "ringtrap")
  list(APPEND _ringtrap_libraries ringtrap_shared)
endif()

# ringtrap.h needs C++20 (std::span); C consumers of sig_api.h are unaffected.
foreach(_lib IN LISTS _ringtrap_libraries)
  target_compile_features(${_lib} INTERFACE cxx_std_20)
endforeach()

# The C++ runtime as link flags: the libraries the C++ driver adds that the C
# driver does not (-lstdc++ -lm with GCC and Clang on Linux).
set(_ringtrap_cxx_runtime "")
foreach(_lib IN LISTS CMAKE_CXX_IMPLICIT_LINK_LIBRARIES)
  if(NOT _lib IN_LIST CMAKE_C_IMPLICIT_LINK_LIBRARIES)
    if(_lib MATCHES "^-" OR IS_ABSOLUTE "${_lib}")
      list(APPEND _ringtrap_cxx_runtime "${_lib}")
    else()
      list(APPEND _ringtrap_cxx_runtime "-l${_lib}")
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES _ringtrap_cxx_runtime)

# Code built with sanitizers cannot be linked without their runtimes, so an
# installed sanitizer build passes its flags on to whoever links it.
set(_ringtrap_sanitize_link "")
if(RINGTRAP_SANITIZE)
  set(_ringtrap_sanitize_link -fsanitize=${RINGTRAP_SANITIZE})
  # Clang's C driver leaves out the C++ part of the runtimes (the vptr checks
  # of UBSan, ASan's operator new), which the library's C++ code needs even
  # when the program is C. That part needs the C++ runtime on the command
  # line itself, which a C program linking the shared library lacks.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    list(APPEND _ringtrap_sanitize_link -fsanitize-link-c++-runtime ${_ringtrap_cxx_runtime})
  endif()
  foreach(_lib IN LISTS _ringtrap_libraries)
    target_link_options(${_lib} INTERFACE "$<INSTALL_INTERFACE:${_ringtrap_sanitize_link}>")
  endforeach()
endif()

if(_ringtrap_type STREQUAL "SHARED_LIBRARY")
  # Let the installed program find the installed library wherever the prefix is.
  file(RELATIVE_PATH _ringtrap_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(ringtrap_app PROPERTIES INSTALL_RPATH "$ORIGIN/${_ringtrap_bin_to_lib}")
endif()

install(TARGETS ${_ringtrap_libraries} EXPORT ringtrapTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${RINGTRAP_INSTALL_INCLUDEDIR})
install(FILES ${RINGTRAP_PUBLIC_HEADERS} DESTINATION ${RINGTRAP_INSTALL_INCLUDEDIR})
install(TARGETS ringtrap_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
configure_file(${PROJECT_SOURCE_DIR}/docs/ringtrap.1 ${PROJECT_BINARY_DIR}/ringtrap.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ringtrap.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/ringtrap.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ringtrap)

# The CMake package. Minor versions may still change the interface before 1.0,
# so a request for 0.1 accepts 0.1.x only.
install(EXPORT ringtrapTargets NAMESPACE ringtrap:: FILE ringtrapTargets.cmake
  DESTINATION ${RINGTRAP_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ringtrapConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ringtrapConfig.cmake
  INSTALL_DESTINATION ${RINGTRAP_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ringtrapConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ringtrapConfig.cmake ${PROJECT_BINARY_DIR}/ringtrapConfigVersion.cmake
  DESTINATION ${RINGTRAP_INSTALL_CMAKEDIR})

# The pkg-config file, for the shared library (-lringtrap finds it before the
# static one), which brings its C++ runtime itself; a static link also needs
# the runtime (Libs.private, for pkg-config --static).
set(RINGTRAP_PC_LIBS ${_ringtrap_sanitize_link})
set(RINGTRAP_PC_LIBS_PRIVATE ${_ringtrap_cxx_runtime})
list(PREPEND RINGTRAP_PC_LIBS -lringtrap)
list(JOIN RINGTRAP_PC_LIBS " " RINGTRAP_PC_LIBS)
list(JOIN RINGTRAP_PC_LIBS_PRIVATE " " RINGTRAP_PC_LIBS_PRIVATE)

# `cmake --install --prefix P` decides the prefix only at install time, so the
# file is written in two passes: everything but the prefix now, the prefix by
# the install step itself.
set(RINGTRAP_PC_PREFIX "@RINGTRAP_PC_PREFIX@")
foreach(_dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
    set(RINGTRAP_PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
  else()
    set(RINGTRAP_PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/ringtrap.pc.in ${PROJECT_BINARY_DIR}/ringtrap.pc.stage @ONLY)
install(CODE "
  set(RINGTRAP_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/ringtrap.pc.stage\" \"${PROJECT_BINARY_DIR}/ringtrap.pc\" @ONLY)
")
install(FILES ${PROJECT_BINARY_DIR}/ringtrap.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
