# What the shared library exports: the symbols of ringtrap.h and sig_api.h and
# nothing else (tests/check_exports.sh). libringtrap.so is built in every
# configuration, so that a static build checks it too.
find_program(RINGTRAP_NM nm)
find_program(RINGTRAP_BASH_FOR_EXPORTS bash)
if(RINGTRAP_NM AND RINGTRAP_BASH_FOR_EXPORTS)
  add_test(NAME exported_symbols
    COMMAND ${RINGTRAP_BASH_FOR_EXPORTS} ${PROJECT_SOURCE_DIR}/tests/check_exports.sh ${RINGTRAP_NM}
      $<TARGET_FILE:ringtrap_shared>)
endif()
