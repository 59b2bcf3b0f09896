# The manual page (as the build fills it in, cmake/install.cmake) and the bash
# completion against the program's --help (tests/check_docs.sh).
find_program(RINGTRAP_BASH_FOR_DOCS bash)
if(RINGTRAP_BASH_FOR_DOCS)
  add_test(NAME manual_page_and_completion
    COMMAND ${RINGTRAP_BASH_FOR_DOCS} ${PROJECT_SOURCE_DIR}/tests/check_docs.sh $<TARGET_FILE:ringtrap_app>
      ${PROJECT_BINARY_DIR}/ringtrap.1 ${PROJECT_SOURCE_DIR}/docs/ringtrap.bash-completion)
  set_tests_properties(manual_page_and_completion PROPERTIES SKIP_RETURN_CODE 77)
endif()
