# The provider object against the array simulator (ctest starts one for each
# program, natively also for the Windows build's programs under Wine).
include(${PROJECT_SOURCE_DIR}/testbed/simulator/SimulatorTesting.cmake)

marl_simulator_test(integration_provider_test SOURCES integration_provider_test.cpp
                    LIBS marl_harness_lib marl_provider_testing)

# Every command of a shadow copy's lifecycle, broken in five ways (prints the
# size of the matrix and the snapshot LUNs left behind). The matrix runs in
# three slices side by side, each with a simulator of its own: whole, it was
# the longest program of both suites. ctest entry fault_matrix_test is the
# first slice, fault_matrix_test_slice<k> the others.
marl_simulator_test(fault_matrix_test SOURCES fault_matrix_test.cpp
                    LIBS marl_harness_lib marl_provider_testing)
set(_slices 3)
foreach(k RANGE 1 ${_slices})
  set(_test fault_matrix_test)
  if(k GREATER 1)
    set(_test fault_matrix_test_slice${k})
    add_test(NAME ${_test} COMMAND fault_matrix_test)
    marl_simulator_fixture(${_test})
  endif()
  set_property(TEST ${_test} APPEND PROPERTY ENVIRONMENT "MARL_FAULT_MATRIX_SLICE=${k}/${_slices}")
  # Still the longest programs: COST makes a clean tree's first ctest run
  # (which has no timings yet) start them first instead of last.
  set_tests_properties(${_test} PROPERTIES TIMEOUT 900 COST 100)
endforeach()
set_tests_properties(integration_provider_test PROPERTIES COST 25)

# LocateLuns and ResyncLuns against their first algorithm (every volume
# snapshot asked for by name) over seeded random arrays: the simulator's
# service in process behind the fake HTTP backend, so native only.
if(NOT WIN32)
  marl_test(locate_resync_differential_test SOURCES locate_resync_differential_test.cpp
            LIBS marl_harness_lib marl_provider_testing marl_simulator_core)
endif()
