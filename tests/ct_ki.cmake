# The constant-time check of the key-independent engine: a program meant to run
# under valgrind's memcheck (see tests/ct/ct_ki.cpp), not a ctest test.
add_executable(ringtrap_ct_ki ${PROJECT_SOURCE_DIR}/tests/ct/ct_ki.cpp)
target_link_libraries(ringtrap_ct_ki PRIVATE ringtrap_internal ringtrap_flags)
