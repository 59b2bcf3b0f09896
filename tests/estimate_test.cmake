# The security estimator's own tests, and its check of the key-independent
# parameter sets in params.h.
find_program(RINGTRAP_PYTHON3 python3)
if(RINGTRAP_PYTHON3)
  add_test(NAME estimator_tests COMMAND ${RINGTRAP_PYTHON3} -B ${PROJECT_SOURCE_DIR}/tests/tools/test_estimate.py)
  add_test(NAME estimator_check COMMAND ${RINGTRAP_PYTHON3} -B ${PROJECT_SOURCE_DIR}/tools/estimate.py --check)
  set_tests_properties(estimator_tests estimator_check PROPERTIES TIMEOUT 300)
endif()
