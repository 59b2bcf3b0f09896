# The constant-time check through the public API: a program meant to run under
# valgrind's memcheck (`make ct`, tests/ct/run_ct.sh), not a ctest test.
add_executable(ringtrap_ct_api ${PROJECT_SOURCE_DIR}/tests/ct/ct_api.cpp)
target_link_libraries(ringtrap_ct_api PRIVATE ringtrap ringtrap_flags)
