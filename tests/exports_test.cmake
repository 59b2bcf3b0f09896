# What a shared library built from the library's objects exports: the symbols
# of ringtrap.h and sig_api.h and nothing else (tests/check_exports.sh). Built
# in every configuration, so that a static build checks it too.
find_program(RINGTRAP_NM nm)
find_program(RINGTRAP_BASH_FOR_EXPORTS bash)
if(RINGTRAP_NM AND RINGTRAP_BASH_FOR_EXPORTS)
  add_library(ringtrap_exports_probe SHARED EXCLUDE_FROM_ALL $<TARGET_OBJECTS:ringtrap_internal>)
  set_target_properties(ringtrap_exports_probe PROPERTIES LINKER_LANGUAGE CXX)
  target_link_libraries(ringtrap_exports_probe PRIVATE ringtrap_flags)
  target_link_options(ringtrap_exports_probe PRIVATE "-Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/ringtrap.map")
  add_dependencies(ringtrap_tests ringtrap_exports_probe)
  add_test(NAME exported_symbols
    COMMAND ${RINGTRAP_BASH_FOR_EXPORTS} ${PROJECT_SOURCE_DIR}/tests/check_exports.sh ${RINGTRAP_NM}
      $<TARGET_FILE:ringtrap_exports_probe>)
endif()
