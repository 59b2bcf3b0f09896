# The constant-time check of the samplers: a program meant to run under
# valgrind's memcheck (see tests/ct/ct_samplers.cpp), not a ctest test.
add_executable(ringtrap_ct_samplers ${PROJECT_SOURCE_DIR}/tests/ct/ct_samplers.cpp)
target_link_libraries(ringtrap_ct_samplers PRIVATE ringtrap_internal ringtrap_flags)
