# Installation: the library, its two public headers, the command-line program,
# a CMake package (find_package(ringtrap CONFIG) gives ringtrap::ringtrap) and a
# pkg-config file.
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

# libringtrap.so.0 -> libringtrap.so.0.1.0; the major number is the ABI.
set_target_properties(ringtrap PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
# ringtrap.h needs C++20 (std::span); C consumers of sig_api.h are unaffected.
target_compile_features(ringtrap INTERFACE cxx_std_20)

# Code built with sanitizers cannot be linked without their runtimes, so an
# installed sanitizer build passes its flags on to whoever links it.
set(_ringtrap_sanitize_link "")
if(RINGTRAP_SANITIZE)
  set(_ringtrap_sanitize_link -fsanitize=${RINGTRAP_SANITIZE})
  # Clang's C driver leaves out the C++ part of the runtimes (the vptr checks
  # of UBSan, ASan's operator new), which the library's C++ code needs even
  # when the program is C.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    list(APPEND _ringtrap_sanitize_link -fsanitize-link-c++-runtime)
  endif()
  target_link_options(ringtrap INTERFACE "$<INSTALL_INTERFACE:${_ringtrap_sanitize_link}>")
endif()

if(_ringtrap_type STREQUAL "SHARED_LIBRARY")
  # Let the installed program find the installed library wherever the prefix is.
  file(RELATIVE_PATH _ringtrap_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(ringtrap_app PROPERTIES INSTALL_RPATH "$ORIGIN/${_ringtrap_bin_to_lib}")
endif()

install(TARGETS ringtrap EXPORT ringtrapTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${RINGTRAP_INSTALL_INCLUDEDIR})
install(FILES ${RINGTRAP_PUBLIC_HEADERS} DESTINATION ${RINGTRAP_INSTALL_INCLUDEDIR})
install(TARGETS ringtrap_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

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

# The pkg-config file. A C program linking the static library also needs the
# C++ runtime: the libraries the C++ driver adds that the C driver does not
# (-lstdc++ -lm with GCC and Clang on Linux). With the shared library they are
# its own dependencies, needed only for static linking.
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
if(_ringtrap_type STREQUAL "SHARED_LIBRARY")
  set(RINGTRAP_PC_LIBS ${_ringtrap_sanitize_link})
  set(RINGTRAP_PC_LIBS_PRIVATE ${_ringtrap_cxx_runtime})
else()
  set(RINGTRAP_PC_LIBS ${_ringtrap_cxx_runtime} ${_ringtrap_sanitize_link})
  set(RINGTRAP_PC_LIBS_PRIVATE "")
endif()
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
