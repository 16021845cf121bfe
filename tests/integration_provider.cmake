# The provider object against the array simulator (ctest starts one for each
# program, natively also for the Windows build's programs under Wine).
include(${PROJECT_SOURCE_DIR}/tools/simulator/SimulatorTesting.cmake)

marl_simulator_test(integration_provider_test SOURCES integration_provider_test.cpp
                    LIBS marl_harness_lib marl_provider_testing)

# Every command of a shadow copy's lifecycle, broken in five ways (prints the
# size of the matrix and the snapshot LUNs left behind).
marl_simulator_test(fault_matrix_test SOURCES fault_matrix_test.cpp
                    LIBS marl_harness_lib marl_provider_testing)
# The longest program of both suites: COST makes a clean tree's first ctest
# run (which has no timings yet) start it first instead of last.
set_tests_properties(fault_matrix_test PROPERTIES TIMEOUT 1800 COST 100)
set_tests_properties(integration_provider_test PROPERTIES COST 25)
