# The logger under two processes of four threads each; the test starts itself
# again as the child processes, so it brings its own main.
marl_test(logger_reliability_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/logger_reliability_test.cpp
          LIBS marl_common NO_MAIN)
set_tests_properties(logger_reliability_test PROPERTIES COST 30)
